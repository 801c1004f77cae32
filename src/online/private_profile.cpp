// SPDX-License-Identifier: MIT
// The private-profile reader.
#include "online/private_profile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace velmorin {
namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

PrivateProfile PrivateProfile::Load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text);
}

PrivateProfile PrivateProfile::Parse(std::string_view text) {
    PrivateProfile profile;
    Section* current = nullptr;
    // A file saved as UTF-8 by an editor may begin with a byte-order mark;
    // it is not part of the first line.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name =
                Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            profile.m_sections.push_back({std::string(name), {}});
            current = &profile.m_sections.back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) {
            continue;
        }
        std::string_view value = Trim(line.substr(equals + 1));
        // A value in matching quotes is read without them.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        current->entries.push_back({std::string(Trim(line.substr(0, equals))), std::string(value)});
    }
    return profile;
}

const std::string* PrivateProfile::Find(std::string_view section, std::string_view key) const {
    for (const Section& candidate : m_sections) {
        if (!SameName(candidate.name, section)) {
            continue;
        }
        for (const Entry& entry : candidate.entries) {
            if (SameName(entry.key, key)) {
                return &entry.value;
            }
        }
    }
    return nullptr;
}

bool PrivateProfile::HasSection(std::string_view section) const {
    return std::any_of(m_sections.begin(), m_sections.end(),
                       [&](const Section& candidate) { return SameName(candidate.name, section); });
}

std::string PrivateProfile::GetString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    const std::string* value = Find(section, key);
    const std::string_view text = value != nullptr ? std::string_view(*value) : defaultValue;
    return std::string(text.substr(0, kProfileValueLength));
}

int PrivateProfile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    const std::string* value = Find(section, key);
    if (value == nullptr) {
        return defaultValue;
    }
    const std::string_view text = Trim(*value);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long number = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i) {
        number = std::min<long long>(number * 10 + (text[i] - '0'), 0x7FFFFFFFLL);
    }
    return static_cast<int>(negative ? -number : number);
}

}  // namespace velmorin
