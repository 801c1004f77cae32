// SPDX-License-Identifier: MIT
// A serial port opened exclusively, raw 8N1 at any baud rate, with bounded
// reads and writes. On Linux: termios on the tty node (pseudo-terminals
// included, which is how the simulator and the tests stand in for a charger).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velmorin {

class SerialPort {
public:
    // Opens `node` for exclusive use and sets raw 8N1 at `baudRate`, keeping
    // the port's hardware flow-control setting. Returns nullptr on failure,
    // with the reason (errno text with context) in `error` and errno set.
    static std::unique_ptr<SerialPort> Open(const std::string& node, std::uint32_t baudRate,
                                            std::string& error);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Writes every byte, or fails; a port that takes none for 5 s fails.
    bool Write(const std::uint8_t* data, std::size_t count);
    // Waits up to `timeoutMs` for exactly `count` bytes; false on time-out or
    // failure (bytes that came in part are then lost).
    bool Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs);
    // Drops what waits in both directions.
    void Purge();

private:
    explicit SerialPort(int fd) : m_fd(fd) {}
    int m_fd;
};

// Gives up exclusive mode on every port still open, for a program that is
// about to end abruptly (from a signal handler: it only makes system calls).
void ReleaseSerialPortsForExit();

// Whether a serial node can be opened now and is not held by another
// program (exclusive mode or a lock). Used by discovery's probe.
bool SerialPortIsFree(const std::string& node);

}  // namespace velmorin
