// SPDX-License-Identifier: MIT
// HID interfaces: their enumeration (the one order that both discovery and
// the channel count in) and 65-byte reports to and from one of them. Backed
// by hidapi's hidraw backend for the system's interfaces and by UNIX sockets
// for virtual ones.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/read_outcome.h"

namespace velmorin {

// Report ID 0 and 64 data bytes, in both directions.
inline constexpr std::size_t kHidReportSize = 65;
inline constexpr std::size_t kHidReportData = 64;
using HidReport = std::array<std::uint8_t, kHidReportSize>;

class HidInterface {
public:
    virtual ~HidInterface() = default;
    // Sends one output report; false when it could not be sent whole.
    virtual bool WriteReport(const HidReport& report) = 0;
    // Waits up to `timeoutMs` for one input report; DeviceLost when the
    // interface is gone (hidraw: ENODEV/EIO; a virtual device: its socket
    // closed).
    virtual ReadOutcome ReadReport(HidReport& report, std::uint32_t timeoutMs) = 0;
};

struct HidInterfaceInfo {
    std::string path;  // hidraw node, or the virtual device's socket
    bool isVirtual = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string product;       // narrowed device texts
    std::string serialNumber;  // (empty when they cannot be read)
    std::string physicalPath;  // udev's ID_PATH; empty when unknown
};

// Every present HID interface, one per hidraw node in hidapi's order, then
// the virtual HID devices in file-name order. Index n of this list is HIDn.
std::vector<HidInterfaceInfo> EnumerateHidInterfaces();

// The system's part of that list (platform backend).
std::vector<HidInterfaceInfo> EnumerateSystemHidInterfaces();

// Opens interface `index` of EnumerateHidInterfaces(), telling its node (or
// socket) in `path`; nullptr when there is none (errno ENODEV) or it cannot
// be opened (errno says why: EACCES for a node without permission).
std::unique_ptr<HidInterface> OpenHidInterface(std::uint32_t index, std::string& path);

// Opens one interface of the list (platform backend, or virtual).
std::unique_ptr<HidInterface> OpenSystemHidInterface(const std::string& path);
std::unique_ptr<HidInterface> OpenVirtualHidInterface(const std::string& socketPath);

}  // namespace velmorin
