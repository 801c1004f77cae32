// SPDX-License-Identifier: MIT
// The history from a terminal: every readable line of history.jsonl (a line
// that cannot be read is named on standard error and skipped), chosen by
// serial number and time, as a table, a JSON array or CSV.
#include "history_command.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "console.h"
#include "output.h"
#include "session/history_time.h"
#include "session/ledger.h"
#include "terminal_text.h"
#include "text_table.h"

namespace velmorin::cli {
namespace {

constexpr std::string_view kSkippedLine = " cannot be read; skipped";

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Seconds(std::uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

void PrintTable(const std::vector<LedgerEntry>& entries) {
    std::vector<std::vector<std::string>> rows = {
        {"TIME", "DEVICE", "SLOT", "S/N", "FILE", "VERSION", "OUTCOME", "MESSAGE", "ELAPSED"}};
    for (const LedgerEntry& entry : entries) {
        std::string_view message = entry.message;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.remove_suffix(1);  // a message box's closing line break
        }
        rows.push_back({TerminalSafeField(entry.time), TerminalSafeField(entry.device),
                        TerminalSafeField(entry.slot), TerminalSafeField(entry.serialNumber),
                        TerminalSafeField(entry.file), TerminalSafeField(entry.fileVersion),
                        std::string(LedgerOutcomeName(entry.outcome)), TerminalSafeField(message),
                        Seconds(entry.elapsedMs)});
    }
    std::cout << TextTable(rows);
}

}  // namespace

int RunHistoryCommand(const HistoryOptions& options) {
    std::optional<std::chrono::sys_seconds> since;
    if (options.since) {
        since = ParseHistoryTime(*options.since);
        if (!since) {
            std::cerr << "velmorin-cli history: --since takes a date (2026-12-10) or a UTC time "
                         "(2026-12-10T16:45:03Z), not \""
                      << TerminalSafeField(*options.since) << "\"\n";
            return 2;
        }
    }
    const std::filesystem::path path = DefaultLedgerPath();
    if (path.empty()) {
        std::cerr << "velmorin-cli history: no folder for the history is known\n";
        return 1;
    }
    const LedgerContents contents = ReadLedger(path);
    for (const std::string& warning : contents.warnings) {
        std::cerr << "velmorin-cli: " << TerminalSafe(warning) << '\n';
    }
    // A file that cannot be read at all leaves its reason as the only
    // warning; lines that cannot be read leave a warning each.
    if (contents.entries.empty() && contents.warnings.size() == 1 &&
        !EndsWith(contents.warnings.front(), kSkippedLine)) {
        return 1;
    }

    std::vector<LedgerEntry> chosen;
    for (const LedgerEntry& entry : contents.entries) {
        if (!options.serial.empty() && entry.serialNumber != options.serial) {
            continue;
        }
        if (since) {
            const std::optional<std::chrono::sys_seconds> when = ParseHistoryTime(entry.time);
            if (!when || *when < *since) {
                continue;
            }
        }
        chosen.push_back(entry);
    }

    if (options.json) {
        // Each entry as its line in the history has it, fields in that order.
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        for (const LedgerEntry& entry : chosen) {
            nlohmann::ordered_json object =
                nlohmann::ordered_json::parse(LedgerLine(entry), nullptr, false);
            if (!object.is_discarded()) {
                entries.push_back(std::move(object));
            }
        }
        std::cout << entries.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (options.csv) {
        WriteStdoutBytes(LedgerCsv(chosen));
    } else if (chosen.empty()) {
        std::cerr << (contents.entries.empty() ? "no upgrades recorded\n"
                                               : "no recorded upgrade matches\n");
    } else {
        PrintTable(chosen);
    }
    return FinishOutput(0);
}

}  // namespace velmorin::cli
