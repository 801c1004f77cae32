// SPDX-License-Identifier: MIT
// Pauses on Linux. A serial upgrade pauses 1 ms after each of up to 32 000
// frames, so every microsecond of oversleep costs tens of milliseconds and a
// pause that ends early breaks the charger's timing. The kernel wakes a
// sleeper some 20-75 us after its deadline (timer slack, lowered here to 1 ns,
// and wake-up latency), so a pause sleeps until an absolute time set ahead of
// its deadline by how late this thread's wakes tend to be, learned as it
// goes. Most wakes then land just past the deadline; the few that land ahead
// of it wait out those microseconds on the clock. Eight transfers at once
// thus cost a few per cent of one core instead of the 15 % each that waiting
// out a fixed 150 us would.
#include "device/pause.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

namespace velmorin {
namespace {

using Clock = std::chrono::steady_clock;

// Pauses up to this long aim ahead of their deadline; longer ones are plain
// sleeps to the deadline (a wake a few tens of us late does not matter).
constexpr std::int64_t kExactUpToNs = 5'000'000;
// How far ahead a wake may be aimed at most: a wake later than this is the
// system being busy, not its usual latency.
constexpr std::int64_t kMostLeadNs = 150'000;
// How fast the lead moves per pause.
constexpr std::int64_t kLeadStepNs = 500;

std::int64_t MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void SleepUntilNs(std::int64_t when) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(when / 1'000'000'000);
    at.tv_nsec = static_cast<long>(when % 1'000'000'000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// The lead of one thread's wakes: an estimate of the latency that about one
// wake in ten beats, moved a little after each pause (up by a tenth of a step
// when the wake came later than the estimate, down by nine tenths when it
// came earlier), so a wake lands ahead of its deadline about one time in ten
// and then by little.
class WakeLead {
public:
    std::int64_t Lead() const { return m_lead; }
    void Learn(std::int64_t lateness) {
        if (lateness < m_lead) {
            m_lead -= kLeadStepNs * 9;
        } else {
            m_lead += kLeadStepNs;
        }
        m_lead = m_lead < 0 ? 0 : m_lead > kMostLeadNs ? kMostLeadNs : m_lead;
    }

private:
    std::int64_t m_lead = 20'000;
};

}  // namespace

void SleepMs(int milliseconds) {
    thread_local const bool slackLowered = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
    thread_local WakeLead lead;
    (void)slackLowered;
    if (milliseconds <= 0) {
        return;
    }
    const std::int64_t length = static_cast<std::int64_t>(milliseconds) * 1'000'000;
    const std::int64_t deadline = MonotonicNs() + length;
    if (length > kExactUpToNs) {
        SleepUntilNs(deadline);
        return;
    }
    const std::int64_t aim = deadline - lead.Lead();
    SleepUntilNs(aim);
    std::int64_t now = MonotonicNs();
    lead.Learn(now - aim);
    // Woken ahead of the deadline: the rest is at most the lead, too short
    // for another sleep to end in time.
    while (now < deadline) {
        std::this_thread::yield();
        now = MonotonicNs();
    }
}

}  // namespace velmorin
