#include "simdesk/runner.h"

#include "simdesk/compare.h"
#include "simdesk/quoting.h"
#include "simdesk/show.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace simdesk {

namespace {

namespace fs = std::filesystem;

constexpr int failedStatus = 1;
constexpr int usageStatus = 2;

const char* const usage = "usage: simdesk FILE|DIRECTORY...   run scenarios, report PASS or FAIL\n"
                          "       simdesk --show FILE          show one run to a person\n";

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// One scenario file, or an argument that names none.
struct Item {
    std::string path;
    std::string fault; // why there is nothing to run here
};

// Every *.json file under each directory, sorted by path; files as given.
std::vector<Item> collectItems(const std::vector<std::string>& arguments) {
    std::vector<Item> items;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (!fs::is_directory(argument, error)) {
            items.push_back({argument, fs::exists(argument, error) || fs::is_symlink(argument)
                                           ? ""
                                           : "no such file or directory"});
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator walk(argument, error), end;
        for (; !error && walk != end; walk.increment(error)) {
            if (walk->path().extension() == ".json" && !walk->is_directory(error)) {
                found.push_back(walk->path().string());
            }
        }
        if (error) {
            items.push_back({argument, "cannot list the directory: " + error.message()});
            continue;
        }
        if (found.empty()) {
            items.push_back({argument, "no *.json scenario files under this directory"});
        }
        std::sort(found.begin(), found.end());
        for (std::string& path : found) {
            items.push_back({std::move(path), ""});
        }
    }
    return items;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

// Reads and parses one file; on a fault the text to report.
std::variant<Scenario, std::string> load(const std::string& path) {
    const std::optional<std::string> text = readFile(path);
    if (!text) {
        return path + ": cannot read the file";
    }
    std::variant<Scenario, FormatError> parsed =
        parseScenario(*text, fs::path(path).filename().string());
    if (auto* error = std::get_if<FormatError>(&parsed)) {
        return faultText(path, *error);
    }
    return std::get<Scenario>(std::move(parsed));
}

int runAll(const std::vector<std::string>& arguments) {
    int passed = 0, failed = 0;
    for (const Item& item : collectItems(arguments)) {
        std::string report;
        try {
            if (!item.fault.empty()) {
                report = verdict(item.path, {item.path + ": " + item.fault});
            } else {
                std::variant<Scenario, std::string> loaded = load(item.path);
                if (auto* fault = std::get_if<std::string>(&loaded)) {
                    report = verdict(fs::path(item.path).filename().string(), {*fault});
                } else {
                    const Scenario& scenario = std::get<Scenario>(loaded);
                    const std::vector<std::string> diffs =
                        differences(scenario, runScenario(scenario));
                    report = verdict(scenario.name, diffs);
                }
            }
        } catch (const std::exception& error) {
            report = verdict(item.path, {item.path + ": the runner failed: " + error.what()});
        }
        (report.compare(0, 5, "PASS ") == 0 ? passed : failed) += 1;
        print(report);
    }
    print(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n");
    return failed == 0 ? 0 : failedStatus;
}

int showOne(const std::string& path) {
    try {
        std::variant<Scenario, std::string> loaded = load(path);
        if (auto* fault = std::get_if<std::string>(&loaded)) {
            print(verdict(fs::path(path).filename().string(), {*fault}));
            return failedStatus;
        }
        const Scenario& scenario = std::get<Scenario>(loaded);
        const Outcome outcome = runScenario(scenario);
        const std::vector<std::string> diffs = differences(scenario, outcome);
        print(showRun(scenario, outcome, diffs));
        return diffs.empty() ? 0 : failedStatus;
    } catch (const std::exception& error) {
        print(verdict(path, {path + ": the runner failed: " + error.what()}));
        return failedStatus;
    }
}

} // namespace

std::string verdict(const std::string& name, const std::vector<std::string>& reasons) {
    if (reasons.empty()) {
        return "PASS " + escapeBytes(name) + "\n";
    }
    std::string text = "FAIL " + escapeBytes(name) + "\n";
    for (const std::string& reason : reasons) {
        text += indentLines(reason, "    ");
    }
    return text;
}

std::string faultText(const std::string& path, const FormatError& error) {
    return path + ": " + (error.place.empty() ? "" : error.place + ": ") + error.reason;
}

int runCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2 && arguments[0] == "--show") {
        return showOne(arguments[1]);
    }
    const bool help = !arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h");
    const bool unknownOption =
        std::any_of(arguments.begin(), arguments.end(),
                    [](const std::string& word) { return word.size() > 1 && word[0] == '-'; });
    if (help || arguments.empty() || unknownOption) {
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : usageStatus;
    }
    return runAll(arguments);
}

} // namespace simdesk
