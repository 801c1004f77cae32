// SPDX-License-Identifier: MIT
// The times the history is chosen by: a date or a UTC time as a person
// types it after --since, and as the history's own lines write them.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace velmorin {

// The time `text` names: a date (2026-12-10, its midnight UTC) or a time in
// UTC (2026-12-10T16:45:03Z; seconds, fractions of them and the Z may be
// left out, a space may stand for the T). A fraction counts from the next
// whole second, since the history keeps whole seconds. Nothing for anything
// else, a day the calendar lacks (2026-02-30) and a leap second among them.
std::optional<std::chrono::sys_seconds> ParseHistoryTime(std::string_view text);

}  // namespace velmorin
