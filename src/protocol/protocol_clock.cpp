// SPDX-License-Identifier: MIT
// Tick count, sleeps and nonces.
#include "protocol/protocol_clock.h"

#include <chrono>
#include <random>

namespace velmorin {
namespace {

std::minstd_rand& NonceGenerator() {
    static std::minstd_rand generator(
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return generator;
}

}  // namespace

std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SeedNonceGenerator(std::uint32_t seed) {
    NonceGenerator().seed(seed);
}

std::uint32_t NextNonce() {
    return static_cast<std::uint32_t>(NonceGenerator()() % 32768);
}

}  // namespace velmorin
