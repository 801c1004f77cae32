// SPDX-License-Identifier: MIT
// The device table: one entry per line of the device list, in the list's
// order, rebuilt whole from a fresh discovery. Its owner (the window's logic,
// a command, a test) hands the upgrades the selected entry from it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_entry.h"
#include "device/discovered_device.h"

namespace velmorin {

inline constexpr int kMaxDeviceEntries = 32;
inline constexpr std::string_view kTextDeviceNotFound = "Device not found!";

// The field after the second '#' of a device path, up to the third '#' or
// the end; empty with fewer than two '#'.
std::string SerialFieldOfDevicePath(std::string_view devicePath);

// The text strictly between the first '(' and the first ')' after it; empty
// without both.
std::string BracketedName(std::string_view friendlyName);

// Discovery: fills the records, throws DiscoveryError when it cannot run.
// EnumeratePorts is the system's; tests pass records of their own.
using DiscoverPorts = std::function<void(std::vector<DiscoveredDevice>& records, bool probe)>;

struct DeviceTableRebuild {
    std::vector<std::string> lines;
    std::string discoveryError;  // set when discovery failed; the table is then empty
};

class DeviceTable {
public:
    // Rewrites the table from discovery records: every charger, and with
    // `includeComPorts` every other serial port too, at most 32 entries.
    // Returns the list-box line of each entry: "Type: <model>, S/N:<serial>"
    // for a charger, the friendly name for a plain port (texts in the
    // devices' single-byte code page).
    std::vector<std::string> Fill(const std::vector<DiscoveredDevice>& records,
                                  bool includeComPorts);

    // Discovery (with `probe`, ports that cannot be opened now or that another
    // program holds are left out) and Fill. A discovery error leaves an empty
    // table and its text in the result.
    DeviceTableRebuild Rebuild(bool includeComPorts, bool probe);
    DeviceTableRebuild Rebuild(bool includeComPorts, bool probe, const DiscoverPorts& discover);

    int Count() const { return m_count; }
    // The valid entries, in the list's order.
    std::vector<DeviceEntry> Entries() const;
    // The entry in slot `index` (0 to 31), or an empty entry outside the
    // slots. A slot past the count keeps what an earlier, longer table put
    // there: a selection that a rebuild left behind still reads that device.
    DeviceEntry At(int index) const;
    // The index of the entry named `deviceName` (as SameDeviceName compares
    // names), or -1.
    int IndexOf(std::string_view deviceName) const;
    // Lists a serial port that discovery did not list, by its name, as a
    // plain port: a port given by name (COM1 to COM256, as ParseDeviceName
    // reads it) is opened by that name. The index of its entry (the existing
    // one when it is listed already); -1 for another name or a full table.
    int AddNamedPort(std::string_view deviceName);

private:
    std::array<DeviceEntry, kMaxDeviceEntries> m_slots;
    int m_count = 0;
};

}  // namespace velmorin
