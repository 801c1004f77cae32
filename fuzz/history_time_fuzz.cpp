// SPDX-License-Identifier: MIT
// Fuzzes the reader of the dates and times the history is chosen by, and
// checks that a time it takes lies within the day its text names (a fraction
// may carry it to the next midnight) and, written as the history writes
// times, reads back as the same time wherever the system clock reaches.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "session/history_time.h"
#include "session/ledger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto when = velmorin::ParseHistoryTime(text);
    if (!when) {
        return 0;
    }
    const auto midnight = velmorin::ParseHistoryTime(text.substr(0, 10));
    if (!midnight || *when < *midnight || *when > *midnight + std::chrono::days{1}) {
        __builtin_trap();
    }
    // The history writes times the system clock gives (about 1678 to 2262
    // where it counts nanoseconds); those read back as written.
    using std::chrono::system_clock;
    const auto earliest = std::chrono::ceil<std::chrono::seconds>(system_clock::time_point::min());
    const auto latest = std::chrono::floor<std::chrono::seconds>(system_clock::time_point::max());
    if (*when >= earliest && *when <= latest &&
        velmorin::ParseHistoryTime(velmorin::LedgerTime(system_clock::time_point(*when))) != when) {
        __builtin_trap();
    }
    return 0;
}
