// SPDX-License-Identifier: MIT
// Test helpers that every platform has: a temporary directory, a scoped
// environment variable, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmorin::testing {

// A fresh directory, removed with everything in it at the end.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Sets (or, with nothing, removes) an environment variable for its
// lifetime, then puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// Sets or removes one variable of this process's environment (platform).
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);

// This process's ID (platform).
int ProcessId();

// Whether std::filesystem's permissions are the file system's own (POSIX
// modes); on Windows they are made up from the read-only mark.
bool FileModesAreReal();

// Something in the file system that opens but is no regular file, for the
// readers' type checks: a FIFO made in `directory` (POSIX), or the null
// device (Windows, where a FIFO cannot be made as a file).
std::filesystem::path MakeNonRegularFile(const std::filesystem::path& directory);

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
// Waits up to 10 s for a file to appear.
bool WaitForFile(const std::filesystem::path& path);

}  // namespace velmorin::testing
