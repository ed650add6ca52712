// A host application's use of scribbet, gripwell and vantor, in Swift on macOS 12 or later.
//
//   swiftc examples/host.swift -o host
//   ./host [--tools DIR] insert PID TEXT   insert TEXT into PID's focused text field
//   ./host [--tools DIR] watch-key [KEY]   report a modifier key until ended (SIGTERM, Ctrl-C)
//   ./host [--tools DIR] watch-apps        report application activations until ended
//
// DIR holds the three executables; by default they sit next to this one, as in an app bundle's
// Contents/MacOS. docs/integration.md explains each step. This file is only type-checked
// (`swiftc -typecheck examples/host.swift`), by the macOS workflow, where a Swift toolchain
// exists; the Python and Node examples, which do the same, are run against the Linux build.

import AppKit
import ApplicationServices
import Foundation

let runTimeout: TimeInterval = 10 // scribbet waits as long as the target application takes
let startTimeout: TimeInterval = 5 // for gripwell or vantor to write their first line

let (toolsFolder, arguments): (URL, [String]) = {
    var arguments = Array(CommandLine.arguments.dropFirst())
    var folder = Bundle.main.executableURL?.deletingLastPathComponent()
        ?? URL(fileURLWithPath: ".", isDirectory: true)
    if arguments.count >= 2 && arguments[0] == "--tools" {
        folder = URL(fileURLWithPath: arguments[1], isDirectory: true)
        arguments.removeFirst(2)
    }
    return (folder, arguments)
}()

func tool(_ name: String) -> URL {
    return toolsFolder.appendingPathComponent(name)
}

func say(_ text: String) {
    print(text)
    fflush(stdout)
}

// MARK: - scribbet

/// scribbet's one line. Members are present only when they have a value.
struct ScribbetAnswer: Decodable {
    let status: String
    let error: String?
    let role: String?
    let subrole: String?
    let targetPid: Int32?
    let focusedPid: Int32?
    let selectionUpdated: Bool?
    let frontmostPidBefore: Int32?
    let frontmostConfirmed: Bool?
}

/// Outcomes where the focus is in the target but its field cannot be edited through the
/// accessibility interface: the application's own paste command may still take the text.
let fallBackToPaste: Set<String> = [
    "no_focused_element", "no_focused_text_input", "value_unavailable", "value_not_string",
    "value_not_settable", "selection_unavailable", "selection_not_range",
    "selection_not_settable", "set_value_failed",
]

/// Runs scribbet once; its answer, or nil when it gave none.
func runScribbet(_ pid: pid_t, _ secondArgument: String) -> ScribbetAnswer? {
    let process = Process()
    process.executableURL = tool("scribbet")
    process.arguments = [String(pid), secondArgument]
    process.standardInput = FileHandle.nullDevice
    process.standardError = FileHandle.nullDevice
    let output = Pipe()
    process.standardOutput = output
    do {
        try process.run()
    } catch {
        say("scribbet did not start: \(error)")
        return nil
    }
    let deadline = DispatchWorkItem { kill(process.processIdentifier, SIGKILL) }
    DispatchQueue.global().asyncAfter(deadline: .now() + runTimeout, execute: deadline)
    let data = output.fileHandleForReading.readDataToEndOfFile()
    process.waitUntilExit()
    deadline.cancel()
    var line = String(decoding: data, as: UTF8.self)
    if line.hasSuffix("\n") {
        line.removeLast()
    }
    say("scribbet: \(line)")
    return try? JSONDecoder().decode(ScribbetAnswer.self, from: Data(line.utf8))
}

/// The text for fast paste: scribbet posts Command+V, the target pastes the clipboard.
func putOnClipboard(_ text: String) {
    NSPasteboard.general.clearContents()
    NSPasteboard.general.setString(text, forType: .string)
}

/// The helpers act with this application's permission (macOS attributes them to it). The
/// system's prompt names this application, and it shows only while it is not allowed.
func askForPermission() -> String {
    let prompt = kAXTrustedCheckOptionPrompt.takeUnretainedValue() as String
    _ = AXIsProcessTrustedWithOptions([prompt: true] as CFDictionary)
    return "permission needed: allow this application in System Settings, "
        + "Privacy & Security, Accessibility"
}

func insert(_ pid: pid_t, _ text: String) -> String {
    // The text goes in a file of its own, readable by this user only, removed afterwards.
    let file = FileManager.default.temporaryDirectory
        .appendingPathComponent("host-text-\(UUID().uuidString)")
    guard FileManager.default.createFile(atPath: file.path, contents: Data(text.utf8),
                                         attributes: [.posixPermissions: 0o600]) else {
        return "not inserted: the text file cannot be written"
    }
    let direct = runScribbet(pid, file.path)
    try? FileManager.default.removeItem(at: file)
    guard var answer = direct else {
        return "not inserted: scribbet gave no answer"
    }
    switch answer.status {
    case "inserted":
        if answer.selectionUpdated == false {
            return "inserted directly; the caret was not moved (\(answer.error ?? ""))"
        }
        return "inserted directly"
    case "accessibility_not_trusted":
        return askForPermission()
    case "target_mismatch":
        // The user has moved on to another application: write nothing anywhere.
        return "not inserted: the focus is in process \(answer.focusedPid.map { String($0) } ?? "?")"
    case "set_value_failed" where answer.error == "cannot_complete":
        // The application did not answer in time: it may still take the text. Pasting it too
        // could insert it twice.
        return "perhaps not inserted: the application did not answer in time"
    case let status where !fallBackToPaste.contains(status):
        return "not inserted: \(status) (\(answer.error ?? ""))"
    default:
        break
    }

    say("falling back to fast paste after \(answer.status)")
    putOnClipboard(text)
    for _ in 1...2 {
        guard let pasted = runScribbet(pid, "--fast-paste") else {
            return "not inserted: scribbet gave no answer"
        }
        answer = pasted
        // The target may be slow to come to the front; one more try.
        if answer.status != "activation_failed" {
            break
        }
    }
    switch answer.status {
    case "inserted":
        return "inserted by fast paste"
    case "accessibility_not_trusted":
        return askForPermission()
    case "activation_failed":
        return "not inserted: process \(pid) did not come to the front"
    default:
        return "not inserted: \(answer.status) (\(answer.error ?? ""))"
    }
}

// MARK: - gripwell and vantor

final class Flag {
    var isSet = false
}

/// Starts a long-running tool and follows it. Its first line must be "ready", within
/// startTimeout; anything else goes to `notStarted` (nil: no line at all). Every later line goes
/// to `onLine`. When this host is asked to end (SIGTERM, SIGHUP, Ctrl-C) it ends the tool with
/// SIGTERM, and returns 0 once the tool has ended; 1 when the tool ended by itself.
@available(macOS 12, *)
func follow(_ name: String, _ toolArguments: [String], watching: String,
            notStarted: (String?) -> String, onLine: (String) -> Void) async -> Int32 {
    let process = Process()
    process.executableURL = tool(name)
    process.arguments = toolArguments
    process.standardInput = FileHandle.nullDevice
    process.standardError = FileHandle.nullDevice
    let output = Pipe()
    process.standardOutput = output
    do {
        try process.run()
    } catch {
        say("\(name) did not start: \(error)")
        return 1
    }
    say("started \(name) (pid \(process.processIdentifier))")

    let ending = Flag()
    var signalSources: [DispatchSourceSignal] = []
    for signalNumber in [SIGTERM, SIGHUP, SIGINT] {
        signal(signalNumber, SIG_IGN)
        let source = DispatchSource.makeSignalSource(signal: signalNumber, queue: .global())
        source.setEventHandler {
            ending.isSet = true
            process.terminate()
        }
        source.resume()
        signalSources.append(source)
    }
    let startTimer = DispatchWorkItem { process.terminate() }
    DispatchQueue.global().asyncAfter(deadline: .now() + startTimeout, execute: startTimer)

    var ready = false
    var anyLine = false
    do {
        for try await line in output.fileHandleForReading.bytes.lines {
            if ready {
                onLine(line)
                continue
            }
            startTimer.cancel()
            anyLine = true
            ready = line == "ready"
            say(ready ? watching : notStarted(line))
        }
    } catch {
        say("\(name): \(error)")
    }
    startTimer.cancel()
    if !anyLine {
        say(notStarted(nil))
    }
    process.waitUntilExit()
    signalSources.forEach { $0.cancel() }
    if ready && !ending.isSet {
        say("\(name) stopped by itself")
    }
    let how = process.terminationReason == .uncaughtSignal ? "by signal" : "with status"
    say("\(name) ended \(how) \(process.terminationStatus)")
    return ready && ending.isSet ? 0 : 1
}

let gripwellStartErrors = [
    "error:event_tap_failed": "cannot watch keys: the system refused the event tap",
    "error:runloop_source_failed": "cannot watch keys: the run loop refused the event source",
]

let keyLines = ["down": "key down", "up": "key up", "combo_space": "space while the key is held"]

/// APP:bundle-id|name|pid. A name may hold "|"; a bundle identifier does not, and the pid is
/// always last.
func parseActivation(_ line: String) -> (bundleId: String, name: String, pid: pid_t)? {
    guard line.hasPrefix("APP:") else {
        return nil
    }
    let fields = line.dropFirst(4)
    guard let first = fields.firstIndex(of: "|"), let last = fields.lastIndex(of: "|"),
          first < last, let pid = pid_t(fields[fields.index(after: last)...]) else {
        return nil
    }
    return (String(fields[..<first]), String(fields[fields.index(after: first)..<last]), pid)
}

// MARK: - main

let usage = "usage: host [--tools DIR] insert PID TEXT | watch-key [KEY] | watch-apps"
let command = arguments.first ?? ""
if command == "insert", arguments.count == 3, let pid = pid_t(arguments[1]), pid > 0 {
    say(insert(pid, arguments[2]))
} else if #available(macOS 12, *), command == "watch-key", arguments.count <= 2 {
    // An error line is gripwell's only line; its exit status (1, 2 or 3) follows.
    Task {
        let status = await follow("gripwell", Array(arguments.dropFirst()),
                                  watching: "watching the key", notStarted: { line in
            if line == "error:accessibility_not_granted" {
                return askForPermission()
            }
            if let line = line, let known = gripwellStartErrors[line] {
                return known
            }
            return "gripwell did not start: \(line ?? "no line in time")"
        }, onLine: { line in say(keyLines[line] ?? "unexpected line \(line)") })
        exit(status)
    }
    dispatchMain()
} else if #available(macOS 12, *), command == "watch-apps", arguments.count == 1 {
    Task {
        let status = await follow("vantor", [], watching: "watching applications", notStarted: {
            line in "vantor did not start: \(line ?? "no line in time")"
        }, onLine: { line in
            if let app = parseActivation(line) {
                let bundleId = app.bundleId.isEmpty ? "no bundle identifier" : app.bundleId
                say("active: \(app.name) (\(bundleId), pid \(app.pid))")
            }
        })
        exit(status)
    }
    dispatchMain()
} else {
    FileHandle.standardError.write(Data((usage + "\n").utf8))
    exit(2)
}
