// SPDX-License-Identifier: MIT
// Time and chance for the protocols: a millisecond tick count that wraps at
// 2^32, pauses, and the nonces of the HID challenge.
#pragma once

#include <cstdint>
#include <random>

#include "device/pause.h"

namespace velmorin {

// Milliseconds of a steady clock, modulo 2^32.
std::uint32_t TickCount();

// The nonces of the HID challenge, 0 to 32767, from a generator that its
// owner seeds (a window or a command once at start-up, a test with a known
// seed). Each owner keeps its own; one source serves one thread.
class NonceSource {
public:
    explicit NonceSource(std::uint32_t seed) : m_generator(seed) {}
    // Seeded from the steady clock.
    NonceSource();

    std::uint32_t Next() { return static_cast<std::uint32_t>(m_generator() % 32768); }

private:
    std::minstd_rand m_generator;
};

}  // namespace velmorin
