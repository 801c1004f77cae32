// SPDX-License-Identifier: MIT
// How a bounded read from a charger ended: a device that is gone (unplugged,
// hung up) is told apart from one that is merely silent, so that the link's
// figures do not count a lost charger as a time-out.
#pragma once

namespace velmorin {

enum class ReadOutcome {
    Received,    // every byte asked for
    TimedOut,    // the device said nothing more within the time-out
    DeviceLost,  // the device hung up or failed; further reads fail at once
};

}  // namespace velmorin
