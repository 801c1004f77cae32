// SPDX-License-Identifier: MIT
// The history from a terminal: every run of history.jsonl, its lines folded
// (a line that cannot be read is named on standard error and skipped),
// chosen by serial number and time, as a table, a JSON array or CSV, read
// and written as it goes, in memory that does not grow with the history.
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
    // The history is streamed: an entry goes out as it is read (a table,
    // whose columns need every row first, keeps only the chosen ones).
    const auto chosen = [&](const LedgerEntry& entry) {
        if (!options.serial.empty() && entry.serialNumber != options.serial) {
            return false;
        }
        if (since) {
            const std::optional<std::chrono::sys_seconds> when = ParseHistoryTime(entry.time);
            if (!when || *when < *since) {
                return false;
            }
        }
        return true;
    };
    std::size_t runs = 0;
    std::size_t shown = 0;
    std::vector<LedgerEntry> tableRows;
    std::string pending;  // output gathered to be written in large pieces
    const auto flush = [&pending](bool always) {
        if (always || pending.size() >= 64 * 1024) {
            WriteStdoutBytes(pending);
            pending.clear();
        }
    };
    if (options.csv) {
        pending = LedgerCsvHeader();
    } else if (options.json) {
        pending = "[";
    }
    std::vector<std::string> warnings;
    const bool readable = ForEachLedgerRun(
        path,
        [&](const LedgerEntry& entry) {
            ++runs;
            if (!chosen(entry)) {
                return;
            }
            ++shown;
            if (options.csv) {
                pending += LedgerCsvRow(entry);
            } else if (options.json) {
                // Each entry as its line in the history has it, fields in
                // that order, as an element of an indented array.
                const nlohmann::ordered_json object =
                    nlohmann::ordered_json::parse(LedgerLine(entry), nullptr, false);
                std::string element =
                    object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
                pending += shown == 1 ? "\n  " : ",\n  ";
                for (const char c : element) {
                    pending += c;
                    if (c == '\n') {
                        pending += "  ";
                    }
                }
            } else {
                tableRows.push_back(entry);
            }
            flush(false);
        },
        warnings, options.serial);
    for (const std::string& warning : warnings) {
        std::cerr << "velmorin-cli: " << TerminalSafe(warning) << '\n';
    }
    if (!readable) {
        // The file could not be read at all: its reason was said.
        return 1;
    }
    if (options.json) {
        pending += shown == 0 ? "]\n" : "\n]\n";
    }
    flush(true);
    if (!options.csv && !options.json) {
        if (tableRows.empty()) {
            std::cerr << (runs == 0 ? "no upgrades recorded\n" : "no recorded upgrade matches\n");
        } else {
            PrintTable(tableRows);
        }
    }
    return FinishOutput(0);
}

}  // namespace velmorin::cli
