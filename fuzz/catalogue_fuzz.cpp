// SPDX-License-Identifier: MIT
// Fuzzes the catalogue reader: any text as an INI file, read with the
// catalogue's keys, and any text as a catalogue file name.
#include <cstdint>
#include <string>
#include <string_view>

#include "online/catalogue.h"
#include "online/private_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto profile = velmorin::PrivateProfile::Parse(text);
    if (profile.GetString("Software", "Ver", "V1.0").size() > velmorin::kProfileValueLength) {
        __builtin_trap();
    }
    const int count = profile.GetInt("File List", "CountEx", 0);
    // A byte-order mark in front of a text without one changes nothing that is read.
    const std::string_view mark = "\xEF\xBB\xBF";
    const auto marked = velmorin::PrivateProfile::Parse(std::string(mark) + std::string(text));
    const bool same =
        marked.GetInt("File List", "CountEx", 0) == count &&
        marked.GetString("Software", "Ver", "V1.0") == profile.GetString("Software", "Ver", "V1.0");
    if (text.substr(0, mark.size()) != mark && !same) {
        __builtin_trap();
    }
    for (int i = 0; i < count && i < velmorin::kMaxCatalogueEntries; ++i) {
        profile.GetString("File List", "FileName" + std::to_string(i), "");
    }
    velmorin::IsNewerRelease(text);
    const std::string name = velmorin::ProposedFileName(text);
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
        name == ".bin" || name == "..bin") {
        __builtin_trap();  // a proposed name is a plain file name
    }
    return 0;
}
