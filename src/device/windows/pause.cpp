// SPDX-License-Identifier: MIT
// Pauses on Windows. A plain Sleep ends on the system's timer tick (up to
// 15.6 ms, or 1 ms once asked for), which after each of a serial upgrade's
// 32 000 frames would add minutes; so a pause waits on a high-resolution
// waitable timer (or, where there is none, 1 ms ticks) for most of its
// length and spends the rest on the performance counter. No pause ever ends
// early.
#include "device/pause.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <mutex>

namespace velmorin {
namespace {

// Not named by every SDK's headers; Windows 10 1803 and later know it.
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// The calling thread's high-resolution timer, made on its first pause and
// kept for its later ones; null where the system has none.
class ThreadTimer {
public:
    ThreadTimer()
        : m_timer(
              ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)) {}
    ~ThreadTimer() {
        if (m_timer != nullptr) {
            ::CloseHandle(m_timer);
        }
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

    // Waits `ticks` units of 100 ns; false when the timer could not be used.
    bool Wait(LONGLONG ticks) const {
        if (m_timer == nullptr) {
            return false;
        }
        LARGE_INTEGER due{};
        due.QuadPart = -ticks;  // relative to now
        return ::SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE) &&
               ::WaitForSingleObject(m_timer, INFINITE) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_timer;
};

LONGLONG CounterNow() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG CounterFrequency() {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// `counts` of the performance counter in 100 ns units, without overflow
// for any pause.
LONGLONG Ticks(LONGLONG counts, LONGLONG frequency) {
    constexpr LONGLONG kTicksPerSecond = 10'000'000;
    return counts / frequency * kTicksPerSecond + counts % frequency * kTicksPerSecond / frequency;
}

// How much before the end a timer wait gives way to the counter: a
// high-resolution timer wakes within some tenths of a millisecond, a 1 ms
// tick Sleep within two ticks.
constexpr LONGLONG kTimerWakeAheadTicks = 5'000;   // 0.5 ms in 100 ns units
constexpr LONGLONG kSleepWakeAheadTicks = 20'000;  // 2 ms

// 1 ms ticks for the fallback, asked for once and kept for the process:
// the pauses come through a whole upgrade.
void UseMillisecondTicks() {
    static std::once_flag asked;
    std::call_once(asked, [] { ::timeBeginPeriod(1); });
}

}  // namespace

void SleepMs(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    thread_local const ThreadTimer timer;
    static const LONGLONG frequency = CounterFrequency();
    const LONGLONG start = CounterNow();
    const LONGLONG deadline =
        start + frequency / 1000 * milliseconds + (frequency % 1000 * milliseconds + 999) / 1000;
    bool timerWorks = true;
    for (LONGLONG now = start; now < deadline; now = CounterNow()) {
        const LONGLONG left = Ticks(deadline - now, frequency);
        if (timerWorks && left > kTimerWakeAheadTicks) {
            timerWorks = timer.Wait(left - kTimerWakeAheadTicks);
            if (timerWorks) {
                continue;
            }
        }
        if (!timerWorks && left > kSleepWakeAheadTicks) {
            UseMillisecondTicks();
            ::Sleep(static_cast<DWORD>((left - kSleepWakeAheadTicks) / 10'000));
            continue;
        }
        ::SwitchToThread();  // the last stretch: give the core away, keep counting
    }
}

}  // namespace velmorin
