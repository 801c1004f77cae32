// SPDX-License-Identifier: MIT
// Time and chance for the protocols: a millisecond tick count that wraps at
// 2^32, pauses, and the nonce generator seeded once at start-up.
#pragma once

#include <cstdint>

#include "device/pause.h"

namespace velmorin {

// Milliseconds of a steady clock, modulo 2^32.
std::uint32_t TickCount();

// Seeds the nonce generator (the program does this once at start-up).
void SeedNonceGenerator(std::uint32_t seed);
// The next nonce, 0 to 32767.
std::uint32_t NextNonce();

}  // namespace velmorin
