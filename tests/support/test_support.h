// SPDX-License-Identifier: MIT
// Helpers shared by the Linux tests: running the project's programs, and
// pseudo-terminals and HID sockets that stand where a charger would be (the
// helpers every platform has are in test_files.h).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_files.h"

namespace velmorin::testing {

struct ProgramOutcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end, capturing its output.
ProgramOutcome RunProgram(const std::vector<std::string>& args);

// Starts a program with its standard output and error going to the files
// at `out` and `err` (made afresh); its process ID, for the caller to signal
// and wait for.
pid_t StartProgram(const std::vector<std::string>& args, const std::filesystem::path& out,
                   const std::filesystem::path& err);

// The first directory on the way to `path` that other users cannot pass
// through, if any (a program run as another user cannot reach `path` then).
std::optional<std::filesystem::path> ClosedToOtherUsers(const std::filesystem::path& path);

// A program running beside the test, stopped with SIGTERM at the end.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::vector<std::string>& args);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    // SIGTERM and wait; the exit status.
    int Stop();

private:
    pid_t m_pid = -1;
};

// A pseudo-terminal whose terminal side is held open, raw, so that it lives
// on between the opens and closes of the program that uses it.
struct PseudoTerminal {
    PseudoTerminal();  // throws when none can be made
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Closes the held terminal side and opens it again, raw (after a
    // hang-up); false when it cannot be opened.
    bool ReopenHeld();

    int master = -1;
    int held = -1;
    std::string node;
};

// The charger's side of a pseudo-terminal, announced as a virtual serial
// device. It records every byte it receives and answers from a script: when
// the total received reaches a count, it sends the answer for that count.
class PtyPeer {
public:
    struct Answer {
        std::size_t afterBytes;
        std::vector<std::uint8_t> bytes;
    };
    // Announces the terminal as COM`port` in `directory`.
    PtyPeer(const std::filesystem::path& directory, std::uint32_t port,
            std::vector<Answer> script = {});
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& Node() const { return m_pty.node; }
    std::vector<std::uint8_t> Received() const;
    void Send(const std::vector<std::uint8_t>& bytes) const;
    // Hangs the terminal up as an unplugged USB adapter's driver does: every
    // open descriptor then reads 0 bytes with POLLHUP and fails writes with
    // EIO. Needs CAP_SYS_ADMIN; false without it.
    bool HangUp() const;

private:
    void Serve();

    PseudoTerminal m_pty;
    std::vector<Answer> m_script;
    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A HID charger's side of a virtual HID socket, announced in `directory`:
// records the reports it receives and sends the reports it is given.
class HidSocketPeer {
public:
    HidSocketPeer(const std::filesystem::path& directory, const std::string& name,
                  std::uint16_t vendorId, std::uint16_t productId, const std::string& product,
                  const std::string& serialNumber);
    ~HidSocketPeer();
    HidSocketPeer(const HidSocketPeer&) = delete;
    HidSocketPeer& operator=(const HidSocketPeer&) = delete;

    // Waits for the host to connect (up to 5 s).
    bool Accept();
    // Receives one message within `timeoutMs`; nullopt on time-out.
    std::optional<std::vector<std::uint8_t>> ReceiveReport(int timeoutMs = 2000);
    void SendReport(const std::vector<std::uint8_t>& report);
    // Closes the host's connection, as a charger that is unplugged.
    void Disconnect();

private:
    int m_listener = -1;
    int m_connection = -1;
};

}  // namespace velmorin::testing
