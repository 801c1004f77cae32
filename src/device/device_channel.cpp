// SPDX-License-Identifier: MIT
// The device channel over a serial port or a HID interface.
#include "device/device_channel.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "device/device_name.h"
#include "device/pause.h"
#include "device/serial_node.h"

namespace velmorin {
namespace {

// Pauses of the channel's conversation.
constexpr int kSerialSetUpPauseMs = 60;
constexpr std::uint32_t kFrameAnswerTimeoutMs = 1000;
constexpr int kAfterAcceptedFrameMs = 1;
constexpr int kBeforeResendMs = 5;
constexpr int kAfterFailedFrameMs = 10;
constexpr int kPacedCharacterMs = 50;

}  // namespace

bool DeviceChannel::Open(std::string_view deviceName, std::uint32_t baudRate) {
    m_openError.clear();
    m_openNode.clear();
    m_openErrno = 0;
    m_openRateRefused = 0;
    const auto name = ParseDeviceName(deviceName);
    if (!name) {
        m_overHid = false;
        m_openError = std::string(deviceName) + " is not a device name (COMn or HIDn)";
        if (m_trace != nullptr) {
            m_trace->OpenFailed(deviceName, m_openError);
        }
        return false;
    }
    m_overHid = name->kind == DeviceKind::Hid;
    return m_overHid ? OpenHid(deviceName, name->number)
                     : OpenSerial(deviceName, name->number, baudRate);
}

bool DeviceChannel::OpenSerial(std::string_view deviceName, std::uint32_t port,
                               std::uint32_t baudRate) {
    const auto node = SerialNodeForComNumber(port);
    if (!node) {
        m_openError = "no serial port COM" + std::to_string(port) + " on this system";
        if (m_trace != nullptr) {
            m_trace->OpenFailed(deviceName, m_openError);
        }
        return false;
    }
    SerialOpenFailure failure;
    m_serial = SerialPort::Open(*node, baudRate, failure);
    if (m_serial == nullptr) {
        m_openError = failure.text;
        m_openNode = *node;
        m_openErrno = failure.error;
        m_openRateRefused = failure.rateKept != 0 ? baudRate : 0;
        if (m_trace != nullptr) {
            m_trace->OpenFailed(deviceName, m_openError);
        }
        return false;
    }
    if (m_trace != nullptr) {
        m_trace->Opened(deviceName, *node, baudRate);
    }
    // Give the port time to settle at its new rate, then drop whatever was
    // waiting in either direction.
    Pause(kSerialSetUpPauseMs);
    m_serial->Purge();
    Pause(kSerialSetUpPauseMs);
    return true;
}

bool DeviceChannel::OpenHid(std::string_view deviceName, std::uint32_t index) {
    const std::vector<HidInterfaceInfo> interfaces = EnumerateHidInterfaces();
    // A charger known by its serial number is opened wherever the list has
    // it now: the interfaces of a restarting neighbour come and go, and the
    // n of HIDn moves with them.
    std::size_t chosen = index;
    if (!m_expectedSerialNumber.empty() &&
        (chosen >= interfaces.size() ||
         SerialField(interfaces[chosen].serialNumber) != m_expectedSerialNumber)) {
        chosen = interfaces.size();
        for (std::size_t i = 0; i < interfaces.size(); ++i) {
            if (SerialField(interfaces[i].serialNumber) == m_expectedSerialNumber) {
                chosen = i;
                break;
            }
        }
    }
    std::string path;
    if (chosen < interfaces.size()) {
        const HidInterfaceInfo& info = interfaces[chosen];
        path = info.path;
        m_hidSerialNumber = info.serialNumber;
        m_hid =
            info.isVirtual ? OpenVirtualHidInterface(info.path) : OpenSystemHidInterface(info.path);
    } else {
        m_hidSerialNumber.clear();
        errno = ENODEV;
    }
    if (m_hid == nullptr) {
        m_openErrno = errno;
        m_openNode = path;
        m_openError = "cannot open HID interface " + std::to_string(index) +
                      (path.empty() ? std::string() : " (" + path + "): " + std::strerror(errno));
        if (m_trace != nullptr) {
            m_trace->OpenFailed(deviceName, m_openError);
        }
        return false;
    }
    if (m_trace != nullptr) {
        m_trace->Opened(deviceName, path, 0);
    }
    return true;
}

std::string DeviceChannel::SerialField(const std::string& serialNumber) {
    return serialNumber.substr(0, serialNumber.find('#'));
}

void DeviceChannel::Close() {
    if (m_trace != nullptr && IsOpen()) {
        m_trace->Closed();
    }
    m_serial.reset();
    m_hid.reset();
}

void DeviceChannel::Pause(int milliseconds) {
    if (m_trace != nullptr) {
        m_trace->Waited(milliseconds);
    }
    SleepMs(milliseconds);
}

bool DeviceChannel::Write(const std::uint8_t* data, std::uint32_t count) {
    if (m_trace != nullptr) {
        m_trace->Sent(data, count);
    }
    if (!m_overHid) {
        return m_serial != nullptr && m_serial->Write(data, count);
    }
    if (m_hid == nullptr) {
        return false;
    }
    std::uint32_t sent = 0;
    do {
        HidReport report{};  // report ID 0, zeros past the data
        const std::uint32_t chunk = std::min<std::uint32_t>(count - sent, kHidReportData);
        std::copy_n(data + sent, chunk, report.begin() + 1);
        if (!m_hid->WriteReport(report)) {
            return false;
        }
        sent += chunk;
    } while (sent < count);
    return true;
}

bool DeviceChannel::Counted(ReadOutcome outcome) {
    if (outcome == ReadOutcome::TimedOut) {
        ++m_statistics.readTimeouts;
    } else if (outcome == ReadOutcome::DeviceLost) {
        m_statistics.deviceLost = true;
    }
    m_lastReadLost = outcome == ReadOutcome::DeviceLost;
    return outcome == ReadOutcome::Received;
}

bool DeviceChannel::Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) {
    if (!m_overHid) {
        if (m_serial == nullptr) {
            return false;
        }
        const bool received = Counted(m_serial->Read(buffer, count, timeoutMs));
        return m_trace == nullptr ? received : Traced(received, buffer, count, timeoutMs);
    }
    if (m_hid == nullptr) {
        return false;
    }
    std::uint32_t delivered = 0;
    while (delivered < count) {
        if (!Counted(m_hid->ReadReport(m_report, timeoutMs))) {
            return m_trace == nullptr ? false : Traced(false, buffer, count, timeoutMs);
        }
        const std::uint32_t chunk = std::min<std::uint32_t>(count - delivered, kHidReportData);
        std::copy_n(m_report.begin() + 1, chunk, buffer + delivered);
        delivered += chunk;
    }
    return m_trace == nullptr ? true : Traced(true, buffer, count, timeoutMs);
}

bool DeviceChannel::Traced(bool received, const std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t timeoutMs) {
    if (received) {
        m_trace->Received(buffer, count);
    } else if (m_lastReadLost) {
        m_trace->DeviceLost();
    } else {
        m_trace->TimedOut(timeoutMs);
    }
    return received;
}

bool DeviceChannel::SendFrame(const std::uint8_t* data, std::uint32_t count) {
    const std::uint8_t checksum = FrameChecksum({data, count});
    ++m_statistics.framesSent;
    // A resent frame keeps the name it went out under the first time.
    const char* label = m_trace != nullptr ? m_trace->CurrentLabel() : nullptr;
    const std::int64_t labelNumber = m_trace != nullptr ? m_trace->CurrentLabelNumber() : -1;
    int resends = 0;
    while (SendFrameBytes(data, count, checksum)) {
        std::uint8_t answer = 0;
        if (!Read(&answer, 1, kFrameAnswerTimeoutMs)) {
            break;
        }
        if (answer == kFrameAccepted) {
            // Not in the trace: one per frame, and the next line's time
            // stamp shows it.
            SleepMs(kAfterAcceptedFrameMs);
            return true;
        }
        if (answer != kFrameSendAgain || resends == kFrameMaxResends) {
            break;
        }
        ++resends;
        ++m_statistics.resends;
        if (m_trace != nullptr) {
            m_trace->Resend(resends, kFrameMaxResends);
        }
        Pause(kBeforeResendMs);
        Label(label, labelNumber);
    }
    Pause(kAfterFailedFrameMs);
    return false;
}

bool DeviceChannel::SendFrameBytes(const std::uint8_t* data, std::uint32_t count,
                                   std::uint8_t checksum) {
    if (m_overHid || count > kFrameDataLimit) {
        // On HID the checksum byte travels in a report of its own.
        return Write(data, count) && Write(&checksum, 1);
    }
    // On a serial line the data and their checksum are one run of bytes; a
    // single write spares the charger (and the host) a wake-up per frame.
    std::array<std::uint8_t, kFrameDataLimit + 1> frame{};
    std::copy_n(data, count, frame.begin());
    frame[count] = checksum;
    return Write(frame.data(), count + 1);
}

bool DeviceChannel::SendLine(const CommandBytes& command) {
    const auto line = BuildCommandLine(command);
    return Write(line.data(), static_cast<std::uint32_t>(line.size()));
}

void DeviceChannel::SendLinePaced(const CommandBytes& command) {
    const auto line = BuildPacedCommandLine(command);
    // The trace shows the line once, not a byte and a wait per character.
    WireTrace* const trace = std::exchange(m_trace, nullptr);
    if (trace != nullptr) {
        trace->Sent(line.data(), static_cast<std::uint32_t>(line.size()), kPacedCharacterMs);
    }
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (i > 0) {
            SleepMs(kPacedCharacterMs);
        }
        Write(&line[i], 1);
    }
    m_trace = trace;
}

}  // namespace velmorin
