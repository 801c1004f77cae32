// SPDX-License-Identifier: MIT
// What an upgrade run did, for summaries in the command-line tool and in
// benchmarks. The operator's messages go through the host; this adds the
// link's figures.
#pragma once

#include <cstdint>
#include <string>

#include "image/update_image.h"

namespace velmorin {

enum class UpgradeOutcome {
    FileRejected,  // the load ended the run (its own message shown)
    OpenFailed,    // the device could not be opened
    Mismatch,      // the charger said the file is not for it
    Failed,        // attempts ran out
    Completed,     // "Upgrade completion!"
};

struct UpgradeReport {
    UpgradeOutcome outcome = UpgradeOutcome::FileRejected;
    std::string message;   // the final message box's text, if one was shown
    ImageCheck fileCheck;  // what the load made of the update file
    int attempts = 0;
    int errorCode = 0;  // HID: the code of the last failure
    std::uint64_t payloadBytes = 0;
    std::uint64_t framesSent = 0;  // serial frames or HID blocks, resends not counted
    std::uint64_t resends = 0;
    std::uint64_t timeouts = 0;
    bool deviceLost = false;  // a read found the charger gone during the run
    std::uint32_t elapsedMs = 0;
    // When an open failed: the device, why, and for a serial port its node
    // and the system's error number.
    std::string openError;
    std::string deviceName;
    std::string openNode;
    int openErrno = 0;
    std::uint32_t openRateRefused = 0;  // the rate a serial port could not run at
};

}  // namespace velmorin
