// SPDX-License-Identifier: MIT
// The protocols' pauses: plain sleeps of the calling thread, kept close to
// their length (a serial upgrade makes one after each of its 32 000 frames,
// so a few tens of microseconds of oversleep would add seconds).
#pragma once

namespace velmorin {

void SleepMs(int milliseconds);

}  // namespace velmorin
