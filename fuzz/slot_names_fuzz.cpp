// SPDX-License-Identifier: MIT
// Fuzzes the slots file reader on arbitrary text, and checks that a refused
// file names a line it has, that every name is trimmed and never empty, and
// that the same file with CR LF line ends reads alike.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_entry.h"
#include "session/station.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// What comes before the first '=' of each line, trimmed: the keys a file
// may name, and more.
std::vector<std::string> KeysOf(std::string_view text) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(start, end - start);
        keys.emplace_back(Trimmed(line.substr(0, line.find('='))));
        start = end + 1;
    }
    return keys;
}

std::string WithCrLf(std::string_view text) {
    std::string crLf;
    for (const char c : text) {
        if (c == '\n') {
            crLf += '\r';
        }
        crLf += c;
    }
    return crLf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto names = velmorin::SlotNames::Parse(text, error);
    std::string crLfError;
    const auto crLfNames = velmorin::SlotNames::Parse(WithCrLf(text), crLfError);
    if (names.has_value() != crLfNames.has_value() || error != crLfError) {
        __builtin_trap();
    }
    if (!names) {
        // "line N is not ...", N one of the file's lines.
        const std::size_t lines =
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n') + 1);
        std::size_t number = 0;
        if (error.rfind("line ", 0) != 0 ||
            std::sscanf(error.c_str(), "line %zu is not", &number) != 1 || number == 0 ||
            number > lines) {
            __builtin_trap();
        }
        return 0;
    }
    for (const std::string& key : KeysOf(text)) {
        velmorin::DeviceEntry byName;
        byName.deviceName = key;
        velmorin::DeviceEntry byPath;
        byPath.physicalPath = key;
        byPath.deviceName = "\n";  // no key holds a line end
        const std::string name = names->NameFor(byName);
        if (name != names->NameFor(byPath) || name != crLfNames->NameFor(byName) ||
            Trimmed(name) != name) {
            __builtin_trap();
        }
        // In a file that was read, a line that is neither blank nor a
        // comment is a pair, and its key has a name.
        if (!key.empty() && key.front() != '#' && name.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
