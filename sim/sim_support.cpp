// SPDX-License-Identifier: MIT
// Shared pieces of the simulated chargers.
#include "sim_support.h"

#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iostream>

namespace velmorin::sim {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int /*signal*/) {
    stopRequested = 1;
}

}  // namespace

void Descriptor::Reset(int fd) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

Announcement::Announcement(std::filesystem::path file, nlohmann::json description)
    : m_file(std::move(file)), m_description(std::move(description)) {
    Publish();
}

void Announcement::Publish() {
    WriteJsonFile(m_file, m_description);
}

void Announcement::Withdraw() {
    std::error_code error;
    std::filesystem::remove(m_file, error);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool PrepareDirectory(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::cerr << "velmorin-sim: cannot create " << directory << ": " << error.message() << '\n';
        return false;
    }
    return true;
}

void WriteJsonFile(const std::filesystem::path& path, const nlohmann::json& value) {
    if (path.empty()) {
        return;
    }
    const std::filesystem::path temporary = path.string() + ".tmp";
    std::ofstream(temporary) << value.dump(2) << '\n';
    std::filesystem::rename(temporary, path);
}

void WriteBinaryFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    if (path.empty()) {
        return;
    }
    const std::filesystem::path temporary = path.string() + ".tmp";
    std::ofstream(temporary, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::filesystem::rename(temporary, path);
}

}  // namespace velmorin::sim
