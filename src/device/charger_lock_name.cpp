// SPDX-License-Identifier: MIT
// The name of a charger's lock, the same on every platform.
#include <cstdint>
#include <cstdio>

#include "device/charger_lock.h"

namespace velmorin {

std::string ChargerLockName(std::string_view identity) {
    // FNV-1a over the identity's bytes.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : identity) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("velmorin-charger-") + text;
}

}  // namespace velmorin
