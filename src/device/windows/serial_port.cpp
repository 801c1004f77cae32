// SPDX-License-Identifier: MIT
// Serial ports on Windows: a COM port opened without sharing (which is the
// system's exclusive mode), raw 8N1 through the DCB at any rate the driver
// takes, and overlapped reads and writes that a wait bounds and a cancel
// ends. Under Wine a COM port can lead to a pseudo-terminal, so the Linux
// simulator stands in for a charger there.
#include "device/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "device/windows/wide_text.h"

namespace velmorin {

// The port's handle and one manual-reset event for each direction, so that
// a read and a write may wait at the same time.
struct SerialPort::Native {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE readDone = nullptr;
    HANDLE writeDone = nullptr;
};

SerialPort::SerialPort(std::unique_ptr<Native> native) : m_native(std::move(native)) {}
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWriteLimit{5000};
// Driver queues well above the largest answer or frame of the protocols.
constexpr DWORD kQueueBytes = 4096;

HANDLE OpenNode(const std::string& node) {
    return ::CreateFileW(windows_text::Wide(node).c_str(), GENERIC_READ | GENERIC_WRITE,
                         0,  // no sharing: a port another program has open fails
                         nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// The errno value that the shared code (the open's diagnosis, discovery's
// probe) understands for a system error. A COM port that another program
// has open fails with access denied (ports have no per-user permissions),
// so that means busy, as EBUSY does on Linux.
int ErrnoFor(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
        return ENODEV;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return ENOTTY;  // a device that is not a serial port
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return ENOMEM;
    default:
        return EIO;
    }
}

// The system's own words for `error`, without the closing period and line
// break, to stand after a colon as strerror's texts do on Linux.
std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? windows_text::Utf8(std::wstring_view(text, length)) : "";
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? std::strerror(ErrnoFor(error)) : message;
}

// The text of a failed open, naming the port as it was opened.
std::string Failure(const std::string& node, const char* what, DWORD error) {
    return "cannot open " + node + ": " + what + SystemMessage(error);
}

DWORD RemainingMs(Clock::time_point deadline) {
    // Rounded up, so that a wait never ends before its time-out.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(std::min<long long>(left, INFINITE - 1)) : 0;
}

// Waits for the overlapped operation that `started` began (the result of
// ReadFile or WriteFile) until `deadline`. True with the count moved when it
// ended well; false when it failed or did not end in time, in which case it
// has been cancelled and `timedOut` says which. The operation has always
// ended when this returns, since it writes into the caller's buffer.
bool Complete(HANDLE port, OVERLAPPED& operation, BOOL started, Clock::time_point deadline,
              DWORD& moved, bool& timedOut) {
    timedOut = false;
    moved = 0;
    if (!started && ::GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (::WaitForSingleObject(operation.hEvent, RemainingMs(deadline)) != WAIT_OBJECT_0) {
        ::CancelIoEx(port, &operation);
        // It may have ended just before the cancel: then it counts.
        if (::GetOverlappedResult(port, &operation, &moved, TRUE)) {
            return true;
        }
        timedOut = ::GetLastError() == ERROR_OPERATION_ABORTED;
        return false;
    }
    return ::GetOverlappedResult(port, &operation, &moved, FALSE) != FALSE;
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& node, std::uint32_t baudRate,
                                             SerialOpenFailure& failure) {
    const auto fail = [&](const char* what, DWORD error) {
        failure.text = Failure(node, what, error);
        failure.error = ErrnoFor(error);
        errno = failure.error;
        return nullptr;
    };
    const HANDLE handle = OpenNode(node);
    if (handle == INVALID_HANDLE_VALUE) {
        return fail("", ::GetLastError());
    }
    auto native = std::make_unique<Native>();
    native->port = handle;
    std::unique_ptr<SerialPort> port(new SerialPort(std::move(native)));
    Native& opened = *port->m_native;
    opened.readDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    opened.writeDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (opened.readDone == nullptr || opened.writeDone == nullptr) {
        return fail("", ::GetLastError());
    }

    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!::GetCommState(handle, &settings)) {
        return fail("not a serial port: ", ::GetLastError());
    }
    // Raw 8N1: no software flow control (it would eat bytes), no parity, no
    // error or null replacement, no stop on a line error. The port's
    // hardware flow control (CTS/RTS, DSR/DTR) stays as it is set.
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fAbortOnError = FALSE;
    settings.fDsrSensitivity = FALSE;
    // No time-outs of the driver: a read ends when every byte asked for has
    // come, and Read bounds the wait itself.
    COMMTIMEOUTS timeouts{};
    if (!::SetCommState(handle, &settings) || !::SetCommTimeouts(handle, &timeouts)) {
        return fail("cannot set 8N1: ", ::GetLastError());
    }
    ::SetupComm(handle, kQueueBytes, kQueueBytes);  // only a wish to the driver

    const std::string rateText = "cannot set " + std::to_string(baudRate) + " baud: ";
    const auto rateRefused = [&](std::uint32_t rateKept) {
        failure.text = "cannot open " + node + ": " + rateText + "the port stays at " +
                       std::to_string(rateKept) + " baud";
        failure.error = EINVAL;
        failure.rateKept = rateKept;
        errno = EINVAL;
        return nullptr;
    };
    settings.BaudRate = baudRate;
    if (!::SetCommState(handle, &settings)) {
        // A driver refuses a rate it cannot make (a 16550 above 115200); the
        // port then keeps its rate, which is what the operator needs to hear.
        const DWORD error = ::GetLastError();
        DCB kept{};
        kept.DCBlength = sizeof kept;
        if (::GetCommState(handle, &kept) && !BaudRateTaken(baudRate, kept.BaudRate)) {
            return rateRefused(kept.BaudRate);
        }
        return fail(rateText.c_str(), error);
    }
    // A driver may also take a rate and round it to what its clock makes.
    DCB readBack{};
    readBack.DCBlength = sizeof readBack;
    if (!::GetCommState(handle, &readBack)) {
        return fail(rateText.c_str(), ::GetLastError());
    }
    if (!BaudRateTaken(baudRate, readBack.BaudRate)) {
        return rateRefused(readBack.BaudRate);
    }
    return port;
}

void ReleaseSerialPortsForExit() {
    // Nothing to do: a port's exclusive use is its open handle, which the
    // system closes when the process ends, however it ends.
}

SerialPort::~SerialPort() {
    // Closing the port also ends any operation still pending on it.
    ::CloseHandle(m_native->port);
    if (m_native->readDone != nullptr) {
        ::CloseHandle(m_native->readDone);
    }
    if (m_native->writeDone != nullptr) {
        ::CloseHandle(m_native->writeDone);
    }
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t count) {
    const auto deadline = Clock::now() + kWriteLimit;
    std::size_t written = 0;
    while (written < count) {
        OVERLAPPED operation{};
        operation.hEvent = m_native->writeDone;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, MAXDWORD));
        const BOOL started =
            ::WriteFile(m_native->port, data + written, chunk, nullptr, &operation);
        DWORD moved = 0;
        bool timedOut = false;
        if (!Complete(m_native->port, operation, started, deadline, moved, timedOut)) {
            return false;
        }
        written += moved;
        // A port that takes nothing (held back by flow control) fails in time.
        if (moved == 0 && RemainingMs(deadline) == 0) {
            return false;
        }
    }
    return true;
}

ReadOutcome SerialPort::Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t received = 0;
    while (received < count) {
        OVERLAPPED operation{};
        operation.hEvent = m_native->readDone;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - received, MAXDWORD));
        const BOOL started =
            ::ReadFile(m_native->port, buffer + received, chunk, nullptr, &operation);
        DWORD moved = 0;
        bool timedOut = false;
        if (!Complete(m_native->port, operation, started, deadline, moved, timedOut)) {
            // Any other failure is a port that has gone: an unplugged adapter
            // fails its reads (aborted, device removed, access denied, bad
            // command, depending on the driver) from then on.
            return timedOut ? ReadOutcome::TimedOut : ReadOutcome::DeviceLost;
        }
        if (moved == 0) {
            // Without driver time-outs a read ends early with nothing only
            // at the end of the line: the other side hung up.
            return ReadOutcome::DeviceLost;
        }
        received += moved;
    }
    return ReadOutcome::Received;
}

void SerialPort::Purge() {
    ::PurgeComm(m_native->port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}

PortProbe ProbeSerialPort(const std::string& node) {
    const HANDLE handle = OpenNode(node);
    if (handle == INVALID_HANDLE_VALUE) {
        // A COM port has no per-user permissions: access denied is another
        // program's open handle, so NoPermission never comes from here.
        return ErrnoFor(::GetLastError()) == EBUSY ? PortProbe::Held : PortProbe::Unavailable;
    }
    ::CloseHandle(handle);
    return PortProbe::Free;
}

}  // namespace velmorin
