// SPDX-License-Identifier: MIT
// A serial port opened exclusively, raw 8N1 at any baud rate, with bounded
// reads and writes. On Linux: termios on the tty node (pseudo-terminals
// included, which is how the simulator and the tests stand in for a charger).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/read_outcome.h"

namespace velmorin {

// Whether a port that reports `reported` after being asked for `asked` runs
// close enough for the charger: within 3 % (an FTDI adapter makes 127659 of
// 128000).
inline bool BaudRateTaken(std::uint32_t asked, std::uint32_t reported) {
    const std::uint64_t difference = asked > reported ? asked - reported : reported - asked;
    return difference * 100 <= std::uint64_t{asked} * 3;
}

// Why a port did not open.
struct SerialOpenFailure {
    std::string text;  // the system's reason with context
    int error = 0;     // errno
    // When the port kept another rate than the one asked for (a UART that
    // cannot make it): the rate it reports; 0 otherwise.
    std::uint32_t rateKept = 0;
};

class SerialPort {
public:
    // Opens `node` for exclusive use and sets raw 8N1 at `baudRate`, keeping
    // the port's hardware flow-control setting. The rate is read back: one
    // more than 3 % off the rate asked for fails the open (an adapter's
    // nearest rate, such as 127659 for 128000, is taken). Returns nullptr on
    // failure, with the reason in `failure`.
    static std::unique_ptr<SerialPort> Open(const std::string& node, std::uint32_t baudRate,
                                            SerialOpenFailure& failure);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Writes every byte, or fails; a port that takes none for 5 s fails.
    bool Write(const std::uint8_t* data, std::size_t count);
    // Waits up to `timeoutMs` for exactly `count` bytes. TimedOut when they
    // do not all come in time, DeviceLost at once when the port hangs up (an
    // unplugged USB adapter: 0 bytes with POLLHUP) or fails (EIO); bytes that
    // came in part are then lost.
    ReadOutcome Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs);
    // Drops what waits in both directions.
    void Purge();

private:
    // The platform's handle to the open port and what it keeps with it.
    struct Native;
    explicit SerialPort(std::unique_ptr<Native> native);
    std::unique_ptr<Native> m_native;
};

// Gives up exclusive mode on every port still open, for a program that is
// about to end abruptly (from a signal handler: it only makes system calls).
void ReleaseSerialPortsForExit();

// What discovery's probe finds at a serial node.
enum class PortProbe {
    Free,          // it opens, and no other program holds it
    Held,          // another program holds it (exclusive mode or a lock)
    NoPermission,  // this user may not open it
    Unavailable,   // no such node, or it fails to open
};
PortProbe ProbeSerialPort(const std::string& node);

}  // namespace velmorin
