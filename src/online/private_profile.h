// SPDX-License-Identifier: MIT
// An INI file read the way the catalogue's authors wrote it to be read:
// section and key names match regardless of case, the first section and key
// of a name count, a text value is at most 124 characters, an integer value
// is its leading decimal number (0 when there is none).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

inline constexpr std::size_t kProfileValueLength = 124;

class PrivateProfile {
public:
    // An empty profile when the file cannot be read.
    static PrivateProfile Load(const std::filesystem::path& path);
    static PrivateProfile Parse(std::string_view text);

    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    bool HasSection(std::string_view section) const;

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const std::string* Find(std::string_view section, std::string_view key) const;

    std::vector<Section> m_sections;
};

}  // namespace velmorin
