// SPDX-License-Identifier: MIT
// Discovery of the devices that may lead to a charger: serial ports (native
// ports, USB-serial adapters, chargers that present themselves as USB serial
// devices, virtual serial devices), then the HID chargers.
#pragma once

#include <vector>

#include "device/discovered_device.h"

namespace velmorin {

// Rebuilds `list`: the system's serial ports in COM-number order, then the
// virtual serial devices; with `probe`, minus every port that cannot be
// opened now or that another program holds; each with a friendly name and a
// description; then the HID chargers (EnumerateHidChargers).
// Throws DiscoveryError when the system's devices cannot be listed; the
// records found before the failure stay in the list and no HID records are
// added.
void EnumeratePorts(std::vector<DiscoveredDevice>& list, bool probe);

// The system's serial ports (platform backend). Throws DiscoveryError.
void AppendSystemSerialPorts(std::vector<DiscoveredDevice>& list);

// The record's device node: the last '#'-separated field of its path.
std::string DeviceNodeOfPath(const std::string& devicePath);

// Text made fit to stand as one field of a device path ('#' separates the
// fields, so it becomes '_').
std::string DevicePathField(std::string text);

// A charger's USB identity on a serial adapter: its bus text begins with
// "Varno" or "USB Device" (case counts).
bool IsChargerBusText(const std::string& busText);

}  // namespace velmorin
