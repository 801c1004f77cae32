// SPDX-License-Identifier: MIT
// Test helpers.
#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <stdexcept>

namespace velmorin::testing {

pid_t StartProgram(const std::vector<std::string>& args, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        std::vector<char*> argv;
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

std::optional<std::filesystem::path> ClosedToOtherUsers(const std::filesystem::path& path) {
    for (auto up = path; up != up.root_path(); up = up.parent_path()) {
        if ((std::filesystem::status(up).permissions() & std::filesystem::perms::others_exec) ==
            std::filesystem::perms::none) {
            return up;
        }
    }
    return std::nullopt;
}

namespace {

void WriteDescription(const std::filesystem::path& file, const nlohmann::json& description) {
    const std::filesystem::path temporary = file.string() + ".tmp";
    std::ofstream(temporary) << description.dump();
    std::filesystem::rename(temporary, file);
}

}  // namespace

ProgramOutcome RunProgram(const std::vector<std::string>& args) {
    const TempDirectory output;
    const pid_t child = StartProgram(args, output.Path() / "out", output.Path() / "err");
    int status = 0;
    ::waitpid(child, &status, 0);
    ProgramOutcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadText(output.Path() / "out");
    outcome.err = ReadText(output.Path() / "err");
    return outcome;
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& args) {
    m_pid = StartProgram(args, "/dev/null", "/dev/null");
}

BackgroundProgram::~BackgroundProgram() {
    Stop();
}

int BackgroundProgram::Stop() {
    if (m_pid <= 0) {
        return -1;
    }
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PseudoTerminal::PseudoTerminal() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (master >= 0) {
            ::close(master);
        }
        throw std::runtime_error("no pseudo-terminal");
    }
    node = ::ptsname(master);
    ReopenHeld();
}

PseudoTerminal::~PseudoTerminal() {
    ::close(held);
    ::close(master);
}

bool PseudoTerminal::ReopenHeld() {
    if (held >= 0) {
        ::close(held);
    }
    held = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios settings {};
    ::tcgetattr(held, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(held, TCSANOW, &settings);
    return held >= 0;
}

PtyPeer::PtyPeer(const std::filesystem::path& directory, std::uint32_t port,
                 std::vector<Answer> script)
    : m_script(std::move(script)) {
    const std::string name = "COM" + std::to_string(port);
    WriteDescription(directory / (name + ".json"),
                     {{"kind", "serial"},
                      {"port", name},
                      {"node", m_pty.node},
                      {"friendly_name", "Test Charger (" + name + ")"},
                      {"description", "Test Charger"},
                      {"bus_description", "Varno Test"},
                      {"serial_number", "T" + name}});
    m_thread = std::thread([this] { Serve(); });
}

bool PtyPeer::HangUp() const {
    return ::ioctl(m_pty.held, TIOCVHANGUP) == 0;
}

PtyPeer::~PtyPeer() {
    m_stop = true;
    m_thread.join();
}

void PtyPeer::Serve() {
    std::size_t nextAnswer = 0;
    while (!m_stop) {
        pollfd wait{m_pty.master, POLLIN, 0};
        if (::poll(&wait, 1, 20) <= 0) {
            continue;
        }
        std::uint8_t buffer[256];
        const ssize_t n = ::read(m_pty.master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        std::size_t total = 0;
        {
            const std::lock_guard lock(m_mutex);
            m_received.insert(m_received.end(), buffer, buffer + n);
            total = m_received.size();
        }
        while (nextAnswer < m_script.size() && total >= m_script[nextAnswer].afterBytes) {
            Send(m_script[nextAnswer].bytes);
            ++nextAnswer;
        }
    }
}

std::vector<std::uint8_t> PtyPeer::Received() const {
    const std::lock_guard lock(m_mutex);
    return m_received;
}

void PtyPeer::Send(const std::vector<std::uint8_t>& bytes) const {
    if (!bytes.empty()) {
        [[maybe_unused]] const ssize_t n = ::write(m_pty.master, bytes.data(), bytes.size());
    }
}

HidSocketPeer::HidSocketPeer(const std::filesystem::path& directory, const std::string& name,
                             std::uint16_t vendorId, std::uint16_t productId,
                             const std::string& product, const std::string& serialNumber) {
    const std::filesystem::path socketPath = directory / (name + ".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    m_listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 4) != 0) {
        throw std::runtime_error("cannot listen on " + socketPath.string());
    }
    WriteDescription(directory / (name + ".json"), {{"kind", "hid"},
                                                    {"socket", name + ".sock"},
                                                    {"vendor_id", vendorId},
                                                    {"product_id", productId},
                                                    {"product", product},
                                                    {"serial_number", serialNumber}});
}

HidSocketPeer::~HidSocketPeer() {
    if (m_connection >= 0) {
        ::close(m_connection);
    }
    ::close(m_listener);
}

void HidSocketPeer::Disconnect() {
    if (m_connection >= 0) {
        ::close(m_connection);
        m_connection = -1;
    }
}

bool HidSocketPeer::Accept() {
    pollfd wait{m_listener, POLLIN, 0};
    if (::poll(&wait, 1, 5000) <= 0) {
        return false;
    }
    m_connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    return m_connection >= 0;
}

std::optional<std::vector<std::uint8_t>> HidSocketPeer::ReceiveReport(int timeoutMs) {
    pollfd wait{m_connection, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) <= 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> report(128);
    const ssize_t n = ::recv(m_connection, report.data(), report.size(), 0);
    if (n < 0) {
        return std::nullopt;
    }
    report.resize(static_cast<std::size_t>(n));
    return report;
}

void HidSocketPeer::SendReport(const std::vector<std::uint8_t>& report) {
    [[maybe_unused]] const ssize_t n = ::send(m_connection, report.data(), report.size(), 0);
}

}  // namespace velmorin::testing
