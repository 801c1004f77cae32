// SPDX-License-Identifier: MIT
// The byte channel to one charger, opened by device name (COMn or HIDn):
// reads with time-outs, writes, the acknowledged frame and the colon command
// lines. It shows no messages; every operation reports success or failure
// by its result, and the upgrades decide what the operator sees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "device/channel_framing.h"
#include "device/hid_interface.h"
#include "device/serial_port.h"
#include "device/wire_trace.h"

namespace velmorin {

// What went over a channel since it was made, for the upgrades' summaries.
struct LinkStatistics {
    std::uint64_t framesSent = 0;
    std::uint64_t resends = 0;
    std::uint64_t readTimeouts = 0;
    bool deviceLost = false;  // a read found the device gone (hung up, unplugged)
};

class DeviceChannel {
public:
    DeviceChannel() = default;
    ~DeviceChannel() { Close(); }
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    // Opens COMn at `baudRate` (raw 8N1, exclusive; about 120 ms of set-up
    // pauses) or HIDn (the rate plays no part). Does not close an open
    // channel: the owner calls Close first. False on an unknown name, a port
    // number above 256, or a device that cannot be opened or set up;
    // OpenError() then says why.
    bool Open(std::string_view deviceName, std::uint32_t baudRate);
    // Safe on a closed channel.
    void Close();
    bool IsOpen() const { return m_serial != nullptr || m_hid != nullptr; }

    // Serial: all bytes or failure. HID: ceil(count / 64) output reports of
    // 64 data bytes, zero-filled past the data (a write of nothing sends one
    // report of zeros); a failed report ends the write.
    bool Write(const std::uint8_t* data, std::uint32_t count);
    // Exactly `count` bytes within `timeoutMs` (HID: per report, keeping the
    // bytes of earlier reports in the buffer on failure). A device that is
    // gone fails the read at once and is counted as lost, not as a time-out.
    bool Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs);

    // Data, then its XOR byte, then one answer within 1000 ms: '&' accepted,
    // '5' send again (up to three resends), anything else refused.
    bool SendFrame(const std::uint8_t* data, std::uint32_t count);
    // The command line in one write.
    bool SendLine(const CommandBytes& command);
    // The short command line one character at a time, 50 ms apart; the
    // writes' results are not looked at.
    void SendLinePaced(const CommandBytes& command);

    // The protocol's pause between steps, recorded in the trace.
    void Pause(int milliseconds);

    // From now on every open, close, byte, wait and time-out also goes into
    // `trace` (nullptr: none, which costs a pointer test per operation).
    void SetTrace(WireTrace* trace) { m_trace = trace; }
    WireTrace* Trace() const { return m_trace; }
    // Names what is sent until the next read, in the trace (see
    // WireTrace::Label).
    void Label(const char* label, std::int64_t number = -1) {
        if (m_trace != nullptr) {
            m_trace->Label(label, number);
        }
    }

    const std::string& OpenError() const { return m_openError; }
    // After a failed open: the node (a serial port's tty, a HID interface's
    // hidraw node or socket) and the system's error number (0 when the name
    // itself was wrong).
    const std::string& OpenNode() const { return m_openNode; }
    int OpenErrno() const { return m_openErrno; }
    // After a failed open of a serial port that kept another rate than the
    // one asked for: the rate asked for; 0 otherwise.
    std::uint32_t OpenRateRefused() const { return m_openRateRefused; }
    const LinkStatistics& Statistics() const { return m_statistics; }
    // The serial number of the HID interface the last open reached, as its
    // enumeration read it (empty for a serial port): the interface behind a
    // HIDn is whichever is n-th at the moment of the open, so a run that
    // must reach one charger among several checks that it did.
    const std::string& HidSerialNumber() const { return m_hidSerialNumber; }
    // From now on a HID open reaches the interface with this serial number
    // (as the device list shows it: up to a '#') wherever the interface list
    // has it, when the named one is another; empty: the named one always.
    void ExpectHidSerialNumber(std::string serialNumber) {
        m_expectedSerialNumber = std::move(serialNumber);
    }

private:
    bool Counted(ReadOutcome outcome);
    bool OpenSerial(std::string_view deviceName, std::uint32_t port, std::uint32_t baudRate);
    bool OpenHid(std::string_view deviceName, std::uint32_t index);
    bool Traced(bool received, const std::uint8_t* buffer, std::uint32_t count,
                std::uint32_t timeoutMs);
    static std::string SerialField(const std::string& serialNumber);
    // The frame's data and then its XOR byte.
    bool SendFrameBytes(const std::uint8_t* data, std::uint32_t count, std::uint8_t checksum);
    static constexpr std::uint32_t kFrameDataLimit = 64;

    std::unique_ptr<SerialPort> m_serial;
    std::unique_ptr<HidInterface> m_hid;
    bool m_overHid = false;
    HidReport m_report{};
    std::string m_openError;
    std::string m_openNode;
    int m_openErrno = 0;
    std::uint32_t m_openRateRefused = 0;
    std::string m_hidSerialNumber;
    std::string m_expectedSerialNumber;
    LinkStatistics m_statistics;
    WireTrace* m_trace = nullptr;
    bool m_lastReadLost = false;  // the last read failed on a device that is gone
};

}  // namespace velmorin
