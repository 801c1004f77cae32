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
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

// How an upgrade ended, as the history names it.
enum class LedgerOutcome {
    Started,       // "started": the run's first line, as its transfer is about to begin
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
    std::string runId;    // run_id: 32 hex digits, the same on a run's lines; empty on older lines
    std::string time;     // time: UTC, "2026-12-10T16:45:03Z"
    std::string station;  // station: the computer's host name
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

// The message of a run whose started line has no outcome line after it.
inline constexpr std::string_view kNoOutcomeRecorded =
    "no outcome recorded (the program ended during the run)";

// Reads the history at `path` line by line, in memory that does not grow
// with the file (a run's started line is held only until its outcome line
// comes), and gives `visit` each run once, folded: the last of a run's
// lines (by run_id) wins, in the order of those last lines; a run whose
// started line has no outcome line is given at the end as interrupted, with
// kNoOutcomeRecorded. A line without a run_id (older files) is a run of its
// own. A line that cannot be read is skipped with a warning ("history.jsonl
// line 7 cannot be read; skipped"). Returns false when the file cannot be
// read at all (the reason as the only warning; nothing visited); a missing
// file is an empty history.
// With `serialNumber`, only the runs of chargers with that serial number
// are visited, and the other lines are passed over without being parsed.
bool ForEachLedgerRun(const std::filesystem::path& path,
                      const std::function<void(const LedgerEntry&)>& visit,
                      std::vector<std::string>& warnings, std::string_view serialNumber = {});

struct LedgerContents {
    std::vector<LedgerEntry> entries;  // folded, as ForEachLedgerRun gives them
    std::vector<std::string> warnings;
};

// Every run of the history, folded (ForEachLedgerRun), at once.
LedgerContents ReadLedger(const std::filesystem::path& path);

// The entries as CSV: a header row of the field names, then one row per
// entry; fields with a comma, a quote or a line end are quoted, their quotes
// doubled, and text starting with =, +, -, @, a tab or a carriage return
// gains a leading apostrophe so that a spreadsheet shows it instead of
// working it out as a formula. Rows end in CR LF.
std::string LedgerCsv(const std::vector<LedgerEntry>& entries);
// The same in parts, for a history written out as it is read: the header
// row, and one entry's row.
std::string LedgerCsvHeader();
std::string LedgerCsvRow(const LedgerEntry& entry);

// This computer's host name; empty when the system does not say.
std::string StationName();

// The user running the tool: $USER on Linux, %USERNAME% on Windows; when
// that is unset (a service, a cron job), the login name of the process's
// user, and on Linux failing that its uid as text ("uid 1000"). Empty only
// when Windows names no user.
std::string OperatorName();

}  // namespace velmorin
