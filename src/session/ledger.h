// SPDX-License-Identifier: MIT
// The upgrade history: one JSON object per line in a file that only ever
// grows (history.jsonl), each line what one upgrade did to which charger
// with which file, by whom and where. Appends are single writes to a file
// opened for appending, so that programs running side by side never mix
// their lines; reading skips a line that cannot be read (a torn last line
// after a power cut) and says so.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

// How an upgrade ended, as the history names it.
enum class LedgerOutcome {
    Completed,     // "completed"
    FileRejected,  // "file-rejected": the load refused the file
    OpenFailed,    // "open-failed": the device could not be opened
    Mismatch,      // "mismatch": the charger said the file is not for it
    Failed,        // "failed": attempts ran out
    Interrupted,   // "interrupted": stopped before it ended
};

std::string_view LedgerOutcomeName(LedgerOutcome outcome);
// The outcome a name stands for; nothing for a name the history does not use.
std::optional<LedgerOutcome> LedgerOutcomeFromName(std::string_view name);

// One upgrade. Texts are UTF-8; the members are in the order of the line's
// fields, whose names follow each.
struct LedgerEntry {
    std::string time;          // time: UTC, "2026-12-10T16:45:03Z"
    std::string station;       // station: the computer's host name
    std::string operatorName;  // operator: the user who ran the upgrade
    std::string device;        // device: as the device list names it
    std::string slot;          // slot: the position's name ("Slot 3"); empty for none
    std::string model;         // model
    std::string serialNumber;  // serial_number
    std::string file;          // file: the update file's name
    std::string fileSha256;    // file_sha256: 64 lowercase hex digits
    std::string fileVersion;   // file_version
    std::string fileType;      // file_type
    LedgerOutcome outcome = LedgerOutcome::Failed;  // outcome
    std::string message;                            // message: the final message shown
    int errorCode = 0;                              // error_code
    int attempts = 0;                               // attempts
    std::uint64_t frames = 0;                       // frames
    std::uint64_t resends = 0;                      // resends
    std::uint64_t timeouts = 0;                     // timeouts
    std::uint64_t elapsedMs = 0;                    // elapsed_ms
    std::uint64_t bytesPerSecond = 0;               // bytes_per_second
    std::string toolVersion;                        // tool_version

    bool operator==(const LedgerEntry&) const = default;
};

// `when` as the history writes times: "2026-12-10T16:45:03Z" (UTC, whole
// seconds).
std::string LedgerTime(std::chrono::system_clock::time_point when);

// The entry as one JSON object on one line, without the line's end. Bytes
// that are not UTF-8 become U+FFFD; it never throws.
std::string LedgerLine(const LedgerEntry& entry);

// The entry a line holds; nothing for a line that is no such object (empty,
// torn, not JSON, not an object, a field of the wrong type or an unknown
// outcome). Missing fields keep their defaults.
std::optional<LedgerEntry> ParseLedgerLine(std::string_view line);

// Where the history is kept: $XDG_STATE_HOME/velmorin/history.jsonl, else
// ~/.local/state/velmorin/history.jsonl on Linux;
// %LOCALAPPDATA%\velmorin\history.jsonl on Windows. Empty when no home
// folder can be found.
std::filesystem::path DefaultLedgerPath();

// Adds the entry's line to the file, making the file and its folders as
// needed. The line goes in one appending write (after a line end first when
// the file ends in a torn line) and is flushed to the disk; nothing already
// there is rewritten. Returns empty on success, else why not: "cannot write
// the history to PATH: reason". Never throws.
std::string AppendToLedger(const std::filesystem::path& path, const LedgerEntry& entry);

struct LedgerContents {
    std::vector<LedgerEntry> entries;  // in the file's order
    std::vector<std::string> warnings;
};

// Every readable line of the history. A line that cannot be read is skipped
// with a warning ("history.jsonl line 7 cannot be read; skipped"); a file
// that cannot be read gives the reason as the only warning; a missing file
// is an empty history without a warning.
LedgerContents ReadLedger(const std::filesystem::path& path);

// The entries as CSV: a header row of the field names, then one row per
// entry; fields with a comma, a quote or a line end are quoted, their quotes
// doubled, and text starting with =, +, -, @, a tab or a carriage return
// gains a leading apostrophe so that a spreadsheet shows it instead of
// working it out as a formula. Rows end in CR LF.
std::string LedgerCsv(const std::vector<LedgerEntry>& entries);

// This computer's host name; empty when the system does not say.
std::string StationName();

// The user running the tool: $USER on Linux, %USERNAME% on Windows; when
// that is unset (a service, a cron job), the login name of the process's
// user, and on Linux failing that its uid as text ("uid 1000"). Empty only
// when Windows names no user.
std::string OperatorName();

}  // namespace velmorin
