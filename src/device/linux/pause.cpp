// SPDX-License-Identifier: MIT
// Pauses on Linux. A sleep of the kernel overshoots by some 50 us (timer
// slack and wake-up latency), which after each of a serial upgrade's 32 000
// frames would add seconds; so short pauses sleep most of their length and
// wait out the rest on the clock. No pause ever ends early.
#include "device/pause.h"

#include <sys/prctl.h>

#include <chrono>
#include <thread>

namespace velmorin {
namespace {

using Clock = std::chrono::steady_clock;

// Pauses up to this long end on the clock; longer ones are plain sleeps.
constexpr auto kExactUpTo = std::chrono::milliseconds(5);
// How much of a short pause is left to the clock.
constexpr auto kWakeAhead = std::chrono::microseconds(150);

}  // namespace

void SleepMs(int milliseconds) {
    thread_local const bool slackLowered = ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    (void)slackLowered;
    const auto length = std::chrono::milliseconds(milliseconds);
    if (length > kExactUpTo) {
        std::this_thread::sleep_for(length);
        return;
    }
    const auto deadline = Clock::now() + length;
    if (length > kWakeAhead) {
        std::this_thread::sleep_for(length - kWakeAhead);
    }
    while (Clock::now() < deadline) {
        std::this_thread::yield();
    }
}

}  // namespace velmorin
