// SPDX-License-Identifier: MIT
// HID discovery: appends one record per charger attached as a USB HID
// device (vendor 0x0483, product 0x5750 to 0x575F), named HIDn with n its
// index among all HID interfaces, the index the channel opens.
#pragma once

#include <cstdint>
#include <vector>

#include "device/discovered_device.h"

namespace velmorin {

inline constexpr std::uint16_t kChargerVendorId = 0x0483;
inline constexpr std::uint16_t kChargerProductIdMask = 0xFFF0;
inline constexpr std::uint16_t kChargerProductIdBase = 0x5750;

bool IsHidCharger(std::uint16_t vendorId, std::uint16_t productId);

// Appends the chargers in index order; enumerates the interfaces once.
void EnumerateHidChargers(std::vector<DiscoveredDevice>& list);

}  // namespace velmorin
