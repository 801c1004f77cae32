// SPDX-License-Identifier: MIT
// The HID upgrade: loads the update file, sends the firmware the model
// command, waits for the charger to come back as its bootloader, opens the
// conversation with a start packet and a CRC challenge, and streams the
// payload in 64-byte blocks, masked with a key of this run. Two attempts.
#pragma once

#include <string>

#include "device/device_entry.h"
#include "protocol/protocol_clock.h"
#include "protocol/upgrade_host.h"
#include "protocol/upgrade_report.h"

namespace velmorin {

// Attempts a run makes at most.
inline constexpr int kHidAttempts = 2;

// Runs the whole upgrade on the selected device; the operator is told the
// outcome through `host`, the challenge takes its nonce from `nonces`. The
// channel is closed on every way out.
UpgradeReport UpgradeOverHid(UpgradeHost& host, NonceSource& nonces);

// True when another run (of any program of this tool) holds the HID charger
// `entry` now; `holder` then names it. Takes the charger's lock for a moment
// to find out.
bool HidChargerHeldElsewhere(const DeviceEntry& entry, std::string& holder);

// "Upgrade completion! (12.05 Sec)" for 12 050 ms.
std::string CompletionText(std::uint32_t elapsedMs);

// The message for a HID failure code, e.g. "1008: Error communication.\n".
std::string HidErrorText(int code);

}  // namespace velmorin
