// vantor's activation line over random fields: never more than one line (no line feed, no
// carriage return), and read back by a reader of the protocol it gives the fields, with line
// breaks mended to spaces: "APP:", the bundle identifier, "|", the name, "|", the pid in decimal
// (parsed with strtol). An application whose name comes out empty gives no line.
#include "check.h"

#include "vantor/vantor.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<std::string> field(FuzzedDataProvider& input) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
        return std::nullopt;
    }
    return input.ConsumeRandomLengthString(32);
}

std::string mended(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    vantor::RunningApplication application;
    application.bundleIdentifier = field(input);
    application.localizedName = field(input);
    application.executableName = field(input);
    application.processIdentifier = input.ConsumeIntegral<pid_t>();

    const std::optional<std::string> line = vantor::activationLine(application);
    const std::string name = application.localizedName
                                 ? *application.localizedName
                                 : application.executableName.value_or(std::string());
    if (name.empty()) {
        fuzzcheck::require(!line, "a line for an application without a name");
        return 0;
    }
    fuzzcheck::require(line.has_value(), "no line for a named application");
    fuzzcheck::require(line->find_first_of("\n\r") == std::string::npos,
                       "a line break inside the line");

    // Read back: the pid after the last bar, the identifier after the prefix, the name between.
    const std::string prefix = "APP:" + mended(application.bundleIdentifier.value_or("")) + "|";
    fuzzcheck::require(line->compare(0, prefix.size(), prefix) == 0,
                       "the line does not start with the prefix and the bundle identifier");
    const std::size_t lastBar = line->rfind('|');
    fuzzcheck::require(lastBar != std::string::npos && lastBar >= prefix.size(),
                       "no bar before the pid");
    const std::string pidText = line->substr(lastBar + 1);
    errno = 0;
    char* end = nullptr;
    const long pid = std::strtol(pidText.c_str(), &end, 10);
    fuzzcheck::require(!pidText.empty() && errno == 0 && end == pidText.c_str() + pidText.size() &&
                           pid == application.processIdentifier,
                       "the pid does not read back");
    fuzzcheck::require(pidText.find_first_not_of("-0123456789") == std::string::npos &&
                           (pidText.size() == 1 || pidText[pidText[0] == '-' ? 1 : 0] != '0'),
                       "the pid is not plain decimal");
    const std::string readName = line->substr(prefix.size(), lastBar - prefix.size());
    if (readName != mended(name)) {
        fuzzcheck::disagree("name read back as " + fuzzcheck::printable(readName));
    }
    return 0;
}
