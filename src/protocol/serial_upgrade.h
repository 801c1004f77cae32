// SPDX-License-Identifier: MIT
// The serial upgrade: loads the update file, asks the charger's firmware to
// enter its bootloader (where the charger checks the model code), wakes the
// bootloader at 128000 baud, announces the payload length and streams the
// payload in masked, acknowledged 16-byte frames. Up to seven attempts.
#pragma once

#include "protocol/upgrade_host.h"
#include "protocol/upgrade_report.h"

namespace velmorin {

// Attempts a run makes at most: one, and six more after failures.
inline constexpr int kSerialAttempts = 7;

// Runs the whole upgrade on the selected device; the operator is told the
// outcome through `host`. The channel is closed on every way out.
UpgradeReport UpgradeOverSerial(UpgradeHost& host);

// The outcome in a word or two, as a run's wire trace ends with it.
const char* TraceOutcomeWord(UpgradeOutcome outcome);

}  // namespace velmorin
