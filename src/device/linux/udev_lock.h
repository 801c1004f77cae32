// SPDX-License-Identifier: MIT
// The lock around libudev and hidapi. libudev seeds hidden process-wide state
// (its hash keys) on first use without a lock of its own, and hidapi keeps
// one error text for the whole process; hidapi's hidraw backend calls libudev
// too. Discovery, opening a HID node and the device watcher's udev calls take
// this lock, so that upgrades on several threads can discover at once.
#pragma once

#include <mutex>

namespace velmorin {

inline std::mutex& UdevLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace velmorin
