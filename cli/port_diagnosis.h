// SPDX-License-Identifier: MIT
// Why a serial port could not be opened, in words an operator can act on:
// held by another program (and which), no permission (and what fixes it),
// or no such device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmorin::cli {

// `node` and `error` as the failed open left them; `rateRefused` the rate
// the port could not run at (0 when the rate was not the trouble).
std::vector<std::string> ExplainPortFailure(const std::string& node, int error,
                                            std::uint32_t rateRefused = 0);

// The udev rule that gives the logged-in user a charger's serial port and
// keeps ModemManager from probing it; the project installs it.
inline constexpr char kSerialUdevRule[] =
    "SUBSYSTEM==\"tty\", ATTRS{product}==\"Varno*\", MODE=\"0660\", TAG+=\"uaccess\", "
    "ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
inline constexpr char kHidUdevRule[] =
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"575[0-9a-fA-F]\", "
    "MODE=\"0660\", TAG+=\"uaccess\"";
inline constexpr char kUdevRulePath[] = "/etc/udev/rules.d/70-kestrion.rules";

}  // namespace velmorin::cli
