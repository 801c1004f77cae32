// SPDX-License-Identifier: MIT
// What the simulated chargers share: descriptors, the description file in
// the virtual device directory, stop signals and the report of what the
// charger saw on the wire.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace velmorin::sim {

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int Get() const { return m_fd; }
    void Reset(int fd = -1);

private:
    int m_fd;
};

// The description file, written whole under a temporary name and then
// renamed, so that discovery never reads half of it; removed on destruction.
class Announcement {
public:
    Announcement(std::filesystem::path file, nlohmann::json description);
    ~Announcement() { Withdraw(); }
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;
    void Publish();
    void Withdraw();

private:
    std::filesystem::path m_file;
    nlohmann::json m_description;
};

// SIGINT and SIGTERM ask the charger to stop; SIGPIPE is ignored.
void CatchStopSignals();
bool StopRequested();

// Adds one to the count `key` of a report.
inline void Count(nlohmann::json& report, const char* key) {
    report[key] = report.value(key, 0) + 1;
}

// Bytes as lower-case hexadecimal text, two digits a byte, nothing between.
std::string HexText(std::span<const std::uint8_t> bytes);

// Creates the directory; false with a message when it cannot.
bool PrepareDirectory(const std::filesystem::path& directory);

// Writes `value` to `path` whole (temporary file, then rename); nothing when
// `path` is empty.
void WriteJsonFile(const std::filesystem::path& path, const nlohmann::json& value);
void WriteBinaryFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace velmorin::sim
