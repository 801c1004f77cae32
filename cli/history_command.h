// SPDX-License-Identifier: MIT
// `velmorin-cli history`: the upgrades the history holds, as a table, JSON
// or CSV, chosen by serial number and time.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velmorin::cli {

struct HistoryOptions {
    bool json = false;   // --json: a JSON array of the entries, under the history's field names
    bool csv = false;    // --csv: the history's CSV form
    std::string serial;  // --serial: only this serial number (exactly)
    // --since: only entries at or after this date or UTC time.
    std::optional<std::string> since;
};

// Exit status: 0 when the history was read (an empty or missing one too;
// lines that cannot be read are skipped with a warning on standard error);
// 1 when the file cannot be read at all; 2 for a --since that is no date.
int RunHistoryCommand(const HistoryOptions& options);

}  // namespace velmorin::cli
