// SPDX-License-Identifier: MIT
// The helpers that every platform has.
#include "support/test_files.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace velmorin::testing {

TempDirectory::TempDirectory() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("velmorin-test-" + std::to_string(ProcessId()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDirectory::~TempDirectory() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name)) {
    if (const char* previous = std::getenv(m_name.c_str())) {
        m_previous = previous;
    }
    SetEnvironment(m_name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironment(m_name, m_previous);
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    const std::string text = ReadText(path);
    return {text.begin(), text.end()};
}

bool WaitForFile(const std::filesystem::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace velmorin::testing
