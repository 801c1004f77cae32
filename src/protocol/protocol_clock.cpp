// SPDX-License-Identifier: MIT
// Tick count, sleeps and nonces.
#include "protocol/protocol_clock.h"

#include <chrono>

namespace velmorin {

NonceSource::NonceSource()
    : m_generator(
          static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {
}

std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace velmorin
