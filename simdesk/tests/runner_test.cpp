// The scenario runner itself: the built binary on broken files and bad command lines, the value
// notation both ways, the checks that decide PASS or FAIL and how a difference is shown, and the
// drawing of a field.
#include "simdesk/compare.h"
#include "simdesk/show.h"

#include <macsim/child.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace simdesk {
namespace {

macsim::ChildResult runSimdesk(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SIMDESK_BINARY);
    return macsim::runChild([&arguments]() {
        std::vector<char*> argv;
        for (std::string& word : arguments) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        return 127;
    });
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        out.push_back(text.substr(start, end - start));
    }
    return out;
}

TEST(Binary, BrokenFilesFailWithPlaceAndReasonAndTheRunGoesOn) {
    const std::string dir = MALFORMED_DIR;
    const macsim::ChildResult run = runSimdesk({dir});
    struct Case {
        const char* file;
        const char* placeAndReason;
    };
    const Case cases[] = {
        {"broken-json.json", "byte 54 (line 4, column 1): not valid JSON: "},
        {"member-twice.json", "/expect/exit: member given twice"},
        {"misspelt-member.json", "/expcet: unknown member"},
        {nullptr, nullptr}, // passes-between-broken-files.json
        {"unknown-tool.json", "/tool: unknown tool \"scribbler\""},
        {"unknown-value-form.json",
         "/desktop/elements/notes/attributes/AXValue: unknown value form: {\"text\":\"Hello\"}"},
        {"wrong-type.json", "/args: expected an array, found a string"},
    };
    const std::vector<std::string> out = lines(run.out);
    std::size_t at = 0;
    for (const Case& c : cases) {
        ASSERT_LT(at + 1, out.size()) << run.out;
        if (c.file == nullptr) {
            EXPECT_EQ(out[at++], "PASS a good scenario among broken ones still runs");
            continue;
        }
        EXPECT_EQ(out[at++], std::string("FAIL ") + c.file);
        const std::string where = "    " + dir + "/" + c.file + ": " + c.placeAndReason;
        EXPECT_EQ(out[at++].substr(0, where.size()), where);
    }
    ASSERT_EQ(at + 1, out.size()) << run.out;
    EXPECT_EQ(out[at], "1 passed, 6 failed");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
}

TEST(Binary, ArgumentsThatNameNoScenarioFail) {
    const std::filesystem::path empty =
        std::filesystem::temp_directory_path() / ("simdesk-empty-" + std::to_string(::getpid()));
    std::filesystem::create_directory(empty);
    const macsim::ChildResult run = runSimdesk({"/nonexistent/simdesk", empty.string()});
    std::filesystem::remove(empty);
    EXPECT_EQ(run.out, "FAIL /nonexistent/simdesk\n"
                       "    /nonexistent/simdesk: no such file or directory\n"
                       "FAIL " +
                           empty.string() + "\n    " + empty.string() +
                           ": no *.json scenario files under this directory\n"
                           "0 passed, 2 failed\n");
    EXPECT_EQ(run.exitCode, 1);
}

// A value nested 100,000 levels deep used to overflow the stack when its message showed it.
TEST(Binary, DeepNestingFailsInsteadOfCrashing) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("simdesk-deep-" + std::to_string(::getpid()) + ".json");
    {
        const std::size_t depth = 100'000;
        std::ofstream out(file);
        out << R"({"tool":"scribbet","desktop":{"elements":{"a":{"attributes":{"AXValue":{"x":)"
            << std::string(depth, '[') << std::string(depth, ']') << "}}}}}}";
    }
    const macsim::ChildResult run = runSimdesk({file.string()});
    std::filesystem::remove(file);
    // Six objects hold the value; the 59th array is the 65th level.
    std::string place = "/desktop/elements/a/attributes/AXValue/x";
    for (int level = 7; level <= 64; ++level) {
        place += "/0";
    }
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.out, "FAIL " + file.filename().string() + "\n    " + file.string() + ": " +
                           place + ": nested deeper than 64 levels\n0 passed, 1 failed\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST(Binary, BadCommandLineGivesUsage) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--show"}, {"--verbose", "x.json"}}) {
        const macsim::ChildResult run = runSimdesk(arguments);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("usage: simdesk", 0), 0u);
        EXPECT_EQ(run.exitCode, 2);
    }
}

// Every form of the notation reads and writes back to the same text.
TEST(Notation, EveryFormRoundTrips) {
    const Json forms = Json::parse(R"(["Hello", 42, -2.5, true, null, {"element": "notes"},
        {"range": [-1, 9223372036854775807]}, {"range": [6, 5], "unreadable": true},
        {"point": [1, 2.5]}, {"size": [3, 4]}, {"rect": [1, 2, 3, 4]}, {"attributedString": "b"},
        {"axError": -25204}, {"utf16": [55357, 120]}, {"error": -25212},
        {"error": -25200, "value": {"range": [0, 0]}}])");
    for (const Json& form : forms) {
        EXPECT_EQ(showJson(outcomeJson(readOutcome(form, "/x"))), showJson(form)) << form;
    }
    // A well-formed text given as UTF-16 units is the same text.
    EXPECT_EQ(showJson(outcomeJson(readOutcome(Json::parse(R"({"utf16":[72,105]})"), "/x"))),
              R"("Hi")");
}

// Values that a lenient reader would silently turn into other ones are refused.
TEST(Notation, ValuesThatWouldBeMisreadAreRefused) {
    for (const char* bad : {R"({"element":"a","extra":1})", R"({"range":[1.5,2]})",
                            R"({"range":[0,9223372036854775808]})", R"({"error":0})",
                            R"({"error":-25200,"value":null})", R"({"utf16":[65536]})"}) {
        EXPECT_THROW((void)readOutcome(Json::parse(bad), "/v"), FormatError) << bad;
    }
    for (const char* bad : {R"("80000")", R"("0x1g")", R"("0x10000000000000000")", "-1", "1.0"}) {
        EXPECT_THROW((void)readFlags(Json::parse(bad), "/f"), FormatError) << bad;
    }
    EXPECT_EQ(readFlags(Json::parse("1048576"), "/f"), 0x100000u);
    EXPECT_EQ(readFlags(Json::parse(R"("0XFFFFFFFFFFFFFFFF")"), "/f"), ~0ull);
}

Scenario parse(const std::string& text) {
    std::variant<Scenario, FormatError> parsed = parseScenario(text, "file.json");
    if (auto* error = std::get_if<FormatError>(&parsed)) {
        ADD_FAILURE() << error->place << ": " << error->reason;
        return {};
    }
    return std::get<Scenario>(parsed);
}

// Members of two parts, and a failure word of a pair, that no scenario of the suite tells apart.
TEST(Scenario, MembersBecomeTheDesktop) {
    const Scenario s = parse(R"({"tool": "scribbet", "desktop": {
        "apps": {"-3": {"frontmostWriteError": -25204}},
        "elements": {"e": {"pid": {"error": -25202, "pid": 7},
                           "settable": {"AXValue": {"error": -25200, "flag": true}}}},
        "failures": ["keyDownCreate"]}})");
    EXPECT_EQ(s.desktop.apps.at(-3).writeErrors.at("AXFrontmost"), kAXErrorCannotComplete);
    const macsim::Element& e = s.desktop.elements.at("e");
    EXPECT_EQ(e.pid.code, kAXErrorInvalidUIElement);
    EXPECT_EQ(e.pid.written, 7);
    EXPECT_EQ(e.settable.at("AXValue").code, kAXErrorFailure);
    EXPECT_TRUE(e.settable.at("AXValue").flag);
    EXPECT_TRUE(s.failures.keyDownCreate && !s.failures.keyUpCreate);
}

// A write may answer one thing and do another. The scenarios of applications that ignore a write,
// keep a selection or answer too late use each form of "stores" (whose effects alone they tell
// apart); here the code comes with it, and without it a failing write stores nothing. The forms
// that cannot be meant are refused.
TEST(Scenario, WritesDoWhatTheirOutcomeSays) {
    using Effect = macsim::WriteOutcome::Effect;
    const Scenario s = parse(R"({"tool": "scribbet", "desktop": {"elements": {"e": {"onWrite": {
        "AXTitle": {"error": -25204, "stores": "written"}, "AXHelp": {"error": -25200}}}}}})");
    const macsim::Element& e = s.desktop.elements.at("e");
    EXPECT_EQ(e.writeOutcomes.at("AXTitle").code, kAXErrorCannotComplete);
    EXPECT_EQ(e.writeOutcomes.at("AXTitle").effect, Effect::storesWritten);
    EXPECT_EQ(e.writeOutcomes.at("AXHelp").code, kAXErrorFailure);
    EXPECT_EQ(e.writeOutcomes.at("AXHelp").effect, Effect::keepsOld);

    for (const char* bad : {R"({"AXValue": {"stores": "everything"}})",
                            R"({"AXValue": {"stores": {"range": [3, 1]}}})",
                            R"({"AXValue": {"error": 0}})", R"({"AXRole": {}})"}) {
        const std::string text =
            std::string(R"({"tool": "scribbet", "desktop": {"elements": {"e": {)") +
            R"("writeErrors": {"AXRole": -25200}, "onWrite": )" + bad + "}}}}";
        EXPECT_TRUE(std::holds_alternative<FormatError>(parseScenario(text, "file.json"))) << bad;
    }
}

// The notation of readers, repetitions and their bounds refuses what it cannot mean.
TEST(Scenario, ReadersAndRepetitionsRefuseWhatTheyCannotMean) {
    const struct {
        const char* text;
        const char* place;
    } cases[] = {
        {R"({"tool": "vantor", "stdout": {"reader": "stalls", "until": "events-delivered"}})",
         "/stdout/reader"},
        {R"({"tool": "gripwell", "desktop": {"events": [{"repeat": 2, "events": [
            {"repeat": 2, "events": []}]}]}})",
         "/desktop/events/0/events/0"},
        {R"({"tool": "gripwell", "desktop": {"events": [{"repeat": 1000001, "events": []}]}})",
         "/desktop/events/0/repeat"},
        {R"({"tool": "gripwell", "desktop": {"events": [{"type": "keyUp"},
            {"repeat": 1000000, "events": [{"type": "keyUp"}]}]}})",
         "/desktop/events/1"},
        {R"({"tool": "gripwell", "expect": {"stdoutLines": [{"repeat": 1000000,
            "lines": ["a hundred bytes to a line, with its line feed, pass the bound of 64 MiB a million times over ......"]}]}})",
         "/expect/stdoutLines/0"},
    };
    for (const auto& c : cases) {
        std::variant<Scenario, FormatError> parsed = parseScenario(c.text, "file.json");
        const auto* error = std::get_if<FormatError>(&parsed);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_EQ(error->place, c.place) << error->reason;
    }
}

// A scenario whose expectations all hold for `outcome` but the ones a case breaks.
struct CompareCase {
    const char* name;
    void (*change)(Outcome&);
    std::vector<std::string> differences;
};

Outcome passingOutcome() {
    Outcome outcome;
    outcome.process.exitCode = 0;
    outcome.process.out = "{\"status\":\"inserted\",\"targetPid\":412}\n";
    outcome.writes = {{"notes", "AXValue", macsim::text("Hi"), kAXErrorSuccess},
                      {"app:412", "AXFrontmost", true, kAXErrorCannotComplete}};
    outcome.elements["notes"]["AXValue"] = macsim::Read::of(macsim::text("Hi"));
    outcome.posted = {{kCGHIDEventTap, 9, true, 0x100000, 105'000'000}};
    outcome.elapsedNanos = 147'000'000;
    return outcome;
}

TEST(Compare, EachBrokenExpectationIsNamedAndNothingElse) {
    const std::string expect = R"({"json": {"status": "inserted", "targetPid": 412},
        "elements": {"notes": {"AXValue": "Hi", "AXRole": {"error": -25205}}},
        "writes": [["notes", "AXValue", "Hi"], ["app:412", "AXFrontmost", true]],
        "posted": [{"keycode": 9, "down": true, "flags": "0x100000", "at": 0.105}],
        "elapsed": 0.147})";
    const CompareCase cases[] = {
        {"holds", [](Outcome&) {}, {}},
        {"times within half a millisecond",
         [](Outcome& o) {
             o.posted[0].atNanos += 500'000;
             o.elapsedNanos -= 500'000;
         },
         {}},
        {"times just beyond",
         [](Outcome& o) {
             o.posted[0].atNanos -= 500'001;
             o.elapsedNanos += 500'001;
         },
         {"posted events differ at #1:\n  expected:\n    1. "
          R"({"keycode":9,"down":true,"flags":"0x100000","at":0.105})"
          "\n  actual:\n    1. "
          R"({"keycode":9,"down":true,"flags":"0x100000","at":0.104499999})",
          "elapsed: expected 0.147 s, actual 0.147500001 s"}},
        {"exit, stderr and a stray member",
         [](Outcome& o) {
             o.process.exitCode = 1;
             o.process.err = "oops\n";
             o.process.out = "{\"status\":\"inserted\",\"targetPid\":412,\"error\":\"x\"}\n";
         },
         {"exit status: expected 0, actual 1", "stderr: expected nothing, actual \"oops\\n\"",
          "json members differ:\n  \"error\": not expected, actual \"x\""}},
        {"two JSON lines",
         [](Outcome& o) { o.process.out += o.process.out; },
         {"json: standard output is not exactly one line: "
          R"("{\"status\":\"inserted\",\"targetPid\":412}\n{\"status\":\"inserted\",\"targetPid\":412}\n")"}},
        {"a write missing, an attribute changed",
         [](Outcome& o) {
             o.writes.pop_back();
             o.elements["notes"]["AXRole"] = macsim::Read::of(macsim::text("AXTextArea"));
         },
         {R"(notes AXRole: expected {"error":-25205}, actual "AXTextArea")",
          "writes differ at #2:\n  expected:\n    1. [\"notes\",\"AXValue\",\"Hi\"]\n    2. "
          "[\"app:412\",\"AXFrontmost\",true]\n  actual:\n    1. [\"notes\",\"AXValue\",\"Hi\"]"}},
        {"killed, without a report",
         [](Outcome& o) {
             o.process.exitCode = -1;
             o.process.signal = 6;
             o.reportFault = "the process ended without reporting what it did to the desktop";
         },
         {"exit status: expected 0, but the process was ended by signal 6 (Aborted)",
          "the process ended without reporting what it did to the desktop, so its effects cannot "
          "be checked"}},
    };
    for (const CompareCase& c : cases) {
        const Scenario scenario = parse(R"({"tool": "scribbet", "expect": )" + expect + "}");
        Outcome outcome = passingOutcome();
        c.change(outcome);
        EXPECT_EQ(differences(scenario, outcome), c.differences) << c.name;
    }
}

// A difference in standard output is marked at its first byte; a long output is shown around it,
// with the sizes of both.
TEST(Compare, StdoutDifferenceMarksTheFirstDifferentByte) {
    const std::string forty(40, 'a');
    const struct {
        std::string expected, actual, difference;
    } cases[] = {
        {"é\"a\n", "é\"b\n",
         "stdout:\n  expected: \"é\\\"a\\n\"\n  actual:   \"é\\\"b\\n\"\n"
         "                ^ first difference at byte 3"},
        {std::string(300, 'a') + "X" + std::string(100, 'b'), std::string(300, 'a') + "Y",
         "stdout:\n  expected: ...\"" + forty + "X" + std::string(39, 'b') +
             "\"...\n  actual:   ...\"" + forty + "Y\"\n" + std::string(56, ' ') +
             "^ first difference at byte 300 (expected 401 bytes, actual 301)"},
    };
    for (const auto& c : cases) {
        const Json expect = {{"stdout", c.expected}};
        const Scenario scenario = parse(R"({"tool": "vantor", "expect": )" + expect.dump() + "}");
        Outcome outcome;
        outcome.process.exitCode = 0;
        outcome.process.out = c.actual;
        EXPECT_EQ(differences(scenario, outcome), std::vector<std::string>{c.difference});
    }
}

// An output that may stop early must still be whole lines from the start of the expected ones.
TEST(Compare, LinesPrefixTakesWholeLeadingLinesOnly) {
    const Scenario scenario = parse(R"({"tool": "gripwell", "expect": {
        "stdoutLinesPrefix": ["ready", "down", "up"], "delivered": {"below": 3}}})");
    const struct {
        const char* out;
        std::size_t delivered;
        std::vector<std::string> differences;
    } cases[] = {
        {"", 0, {}},
        {"ready\ndown\n", 2, {}},
        {"ready\ndown\nup\n", 2, {}},
        {"ready\ndo", 2, {"stdout: ends inside a line: \"do\" after 6 bytes of whole lines"}},
        {"ready\nup\n",
         2,
         {"stdout: expected the first lines of the expected text, actual:\n"
          "  expected: \"ready\\ndown\\nup\\n\"\n"
          "  actual:   \"ready\\nup\\n\"\n"
          "                    ^ first difference at byte 6"}},
        {"ready\n",
         3,
         {"delivered: expected fewer than 3 scripted events to reach the tool, actual 3"}},
    };
    for (const auto& c : cases) {
        Outcome outcome;
        outcome.process.exitCode = 0;
        outcome.process.out = c.out;
        outcome.eventsDelivered = c.delivered;
        EXPECT_EQ(differences(scenario, outcome), c.differences) << c.out;
    }
}

TEST(Show, FieldsAreDrawnInUtf16Units) {
    const struct {
        const char* value;
        CFRange range;
        const char* drawn;
    } cases[] = {
        {"Hello world", {6, 5}, "Hello [world]"},
        {"Hello there", {11, 0}, "Hello there|"},
        {"a\xF0\x9F\x98\x80"
         "b",
         {3, 1},
         "a\xF0\x9F\x98\x80[b]"},
        {"tab\there", {3, 1}, "tab[\\t]here"},
        {"Hello", {5, 1}, "Hello  (selection {\"range\":[5,1]} lies outside the text)"},
        {"Hello", {-1, 0}, "Hello  (selection {\"range\":[-1,0]} lies outside the text)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(drawField(macsim::utf16(c.value), c.range), c.drawn) << c.value;
    }
    EXPECT_EQ(drawField(u"plain", std::nullopt), "plain");
}

TEST(Run, TheTextFileHoldsTheTextAndIsRemovedAfterwards) {
    const Scenario scenario = parse(R"({"tool": "scribbet", "args": ["412", "@textfile", "x"],
        "text": "x"})");
    const Outcome outcome = runScenario(scenario);
    ASSERT_EQ(outcome.commandLine.size(), 4u);
    EXPECT_EQ(outcome.commandLine[0], "scribbet");
    EXPECT_EQ(outcome.commandLine[2], outcome.textFilePath);
    EXPECT_EQ(outcome.commandLine[3], "x");
    EXPECT_FALSE(outcome.textFilePath.empty());
    EXPECT_FALSE(std::filesystem::exists(outcome.textFilePath));
}

} // namespace
} // namespace simdesk
