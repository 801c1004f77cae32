// SPDX-License-Identifier: MIT
// The history's lines and their CSV form: the fields' names and order live
// here once. Writing the file, and where it is, is each platform's own
// (ledger_file.cpp).
#include "session/ledger.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <utility>

#include "image/file_path.h"
#include "image/update_file_reader.h"

namespace velmorin {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::pair<LedgerOutcome, std::string_view>, 7> kOutcomeNames{{
    {LedgerOutcome::Started, "started"},
    {LedgerOutcome::Completed, "completed"},
    {LedgerOutcome::FileRejected, "file-rejected"},
    {LedgerOutcome::OpenFailed, "open-failed"},
    {LedgerOutcome::Mismatch, "mismatch"},
    {LedgerOutcome::Failed, "failed"},
    {LedgerOutcome::Interrupted, "interrupted"},
}};

// The entry's fields by name, in the line's order.
Json FieldsOf(const LedgerEntry& entry) {
    return Json{
        {"run_id", entry.runId},
        {"time", entry.time},
        {"station", entry.station},
        {"operator", entry.operatorName},
        {"device", entry.device},
        {"slot", entry.slot},
        {"model", entry.model},
        {"serial_number", entry.serialNumber},
        {"file", entry.file},
        {"file_sha256", entry.fileSha256},
        {"file_version", entry.fileVersion},
        {"file_type", entry.fileType},
        {"outcome", LedgerOutcomeName(entry.outcome)},
        {"message", entry.message},
        {"error_code", entry.errorCode},
        {"attempts", entry.attempts},
        {"frames", entry.frames},
        {"resends", entry.resends},
        {"timeouts", entry.timeouts},
        {"elapsed_ms", entry.elapsedMs},
        {"bytes_per_second", entry.bytesPerSecond},
        {"tool_version", entry.toolVersion},
    };
}

// Each Take leaves `value` alone when the field is missing and returns false
// when it is there with the wrong type or out of range.
bool Take(const Json& object, const char* name, std::string& value) {
    const auto field = object.find(name);
    if (field == object.end()) {
        return true;
    }
    if (!field->is_string()) {
        return false;
    }
    value = field->get<std::string>();
    return true;
}

bool Take(const Json& object, const char* name, int& value) {
    const auto field = object.find(name);
    if (field == object.end()) {
        return true;
    }
    if (field->is_number_unsigned()) {
        const auto number = field->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            return false;
        }
        value = static_cast<int>(number);
        return true;
    }
    if (!field->is_number_integer()) {
        return false;
    }
    const auto number = field->get<std::int64_t>();
    if (number < std::numeric_limits<int>::min()) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool Take(const Json& object, const char* name, std::uint64_t& value) {
    const auto field = object.find(name);
    if (field == object.end()) {
        return true;
    }
    if (!field->is_number_unsigned()) {
        return false;
    }
    value = field->get<std::uint64_t>();
    return true;
}

bool Take(const Json& object, const char* name, LedgerOutcome& value) {
    std::string text;
    if (!Take(object, name, text)) {
        return false;
    }
    if (object.find(name) == object.end()) {
        return true;
    }
    const auto outcome = LedgerOutcomeFromName(text);
    if (!outcome) {
        return false;
    }
    value = *outcome;
    return true;
}

// A CSV field, quoted when it holds a comma, a quote or a line end, its
// quotes doubled. Text that a spreadsheet would take for a formula (it
// starts with =, +, -, @, a tab or a carriage return) gains a leading
// apostrophe, inside the quotes when there are any, so that a serial number
// such as "=1+2" shows as written instead of being worked out. Numbers
// (`isText` false) stay bare, a negative error code among them.
std::string CsvField(const std::string& text, bool isText) {
    const bool formula = isText && !text.empty() &&
                         std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    const std::string shown = formula ? "'" + text : text;
    if (shown.find_first_of(",\"\r\n") == std::string::npos) {
        return shown;
    }
    std::string quoted = "\"";
    for (const char c : shown) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string_view LedgerOutcomeName(LedgerOutcome outcome) {
    for (const auto& [value, name] : kOutcomeNames) {
        if (value == outcome) {
            return name;
        }
    }
    return "failed";
}

std::optional<LedgerOutcome> LedgerOutcomeFromName(std::string_view name) {
    for (const auto& [value, known] : kOutcomeNames) {
        if (known == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::string LedgerTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(when);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss clock{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string LedgerLine(const LedgerEntry& entry) {
    try {
        // Escaped line ends keep the object on one line; broken UTF-8
        // becomes U+FFFD instead of failing the write.
        return FieldsOf(entry).dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception&) {
        return {};
    }
}

std::optional<LedgerEntry> ParseLedgerLine(std::string_view line) {
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return std::nullopt;
    }
    LedgerEntry entry;
    const bool readable =
        Take(object, "run_id", entry.runId) && Take(object, "time", entry.time) &&
        Take(object, "station", entry.station) && Take(object, "operator", entry.operatorName) &&
        Take(object, "device", entry.device) && Take(object, "slot", entry.slot) &&
        Take(object, "model", entry.model) && Take(object, "serial_number", entry.serialNumber) &&
        Take(object, "file", entry.file) && Take(object, "file_sha256", entry.fileSha256) &&
        Take(object, "file_version", entry.fileVersion) &&
        Take(object, "file_type", entry.fileType) && Take(object, "outcome", entry.outcome) &&
        Take(object, "message", entry.message) && Take(object, "error_code", entry.errorCode) &&
        Take(object, "attempts", entry.attempts) && Take(object, "frames", entry.frames) &&
        Take(object, "resends", entry.resends) && Take(object, "timeouts", entry.timeouts) &&
        Take(object, "elapsed_ms", entry.elapsedMs) &&
        Take(object, "bytes_per_second", entry.bytesPerSecond) &&
        Take(object, "tool_version", entry.toolVersion);
    if (!readable) {
        return std::nullopt;
    }
    return entry;
}

bool ForEachLedgerRun(const std::filesystem::path& path,
                      const std::function<void(const LedgerEntry&)>& visit,
                      std::vector<std::string>& warnings, std::string_view serialNumber) {
    std::error_code statusError;
    if (std::filesystem::symlink_status(path, statusError).type() ==
        std::filesystem::file_type::not_found) {
        return true;
    }
    UpdateFileReader reader(path);
    if (!reader.IsOpen()) {
        warnings.push_back(reader.Error());
        return false;
    }
    const std::string fileName = TextOfPath(path.filename());
    // The serial number's field as this tool writes it: a line written so
    // without it is of another charger (a run's lines all name the same
    // one) and is passed over unparsed; any other line is parsed.
    const std::string serialField =
        serialNumber.empty() ? std::string()
                             : "\"serial_number\":" +
                                   Json(std::string(serialNumber))
                                       .dump(-1, ' ', false, Json::error_handler_t::replace) +
                                   ",";
    // Started lines whose outcome has not come yet, by run_id, with their
    // place in the file.
    std::unordered_map<std::string, std::pair<std::size_t, LedgerEntry>> open;
    std::size_t lineNumber = 0;
    const auto takeLine = [&](std::string_view line) {
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            // A blank line holds no upgrade (a line written where the file
            // might have ended in a torn one starts with a line end).
            return;
        }
        if (!serialField.empty() && line.find(serialField) == std::string_view::npos &&
            line.find("\"serial_number\":\"") != std::string_view::npos) {
            return;
        }
        // JSON takes a CR before the line end as blank space.
        std::optional<LedgerEntry> entry = ParseLedgerLine(line);
        if (!entry) {
            warnings.push_back(fileName + " line " + std::to_string(lineNumber) +
                               " cannot be read; skipped");
            return;
        }
        if (!serialNumber.empty() && entry->serialNumber != serialNumber) {
            return;
        }
        if (entry->runId.empty()) {
            visit(*entry);
            return;
        }
        open.erase(entry->runId);
        if (entry->outcome == LedgerOutcome::Started) {
            std::string runId = entry->runId;
            open.emplace(std::move(runId), std::make_pair(lineNumber, std::move(*entry)));
        } else {
            visit(*entry);
        }
    };

    constexpr std::size_t kChunk = 64 * 1024;
    std::vector<std::uint8_t> chunk(kChunk);
    std::string pending;  // the start of a line the last chunk did not end
    for (;;) {
        const std::int64_t count = reader.Read(chunk);
        if (count < 0) {
            warnings.push_back(reader.Error());
            return false;
        }
        if (count == 0) {
            break;
        }
        const std::string_view text(reinterpret_cast<const char*>(chunk.data()),
                                    static_cast<std::size_t>(count));
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string_view::npos;
             end = text.find('\n', start)) {
            if (pending.empty()) {
                takeLine(text.substr(start, end - start));
            } else {
                pending.append(text.substr(start, end - start));
                takeLine(pending);
                pending.clear();
            }
            start = end + 1;
        }
        pending.append(text.substr(start));
    }
    if (!pending.empty()) {
        takeLine(pending);
    }
    std::vector<std::pair<std::size_t, LedgerEntry>> unfinished;
    unfinished.reserve(open.size());
    for (auto& [runId, run] : open) {
        unfinished.push_back(std::move(run));
    }
    std::sort(unfinished.begin(), unfinished.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [place, run] : unfinished) {
        run.outcome = LedgerOutcome::Interrupted;
        run.message = kNoOutcomeRecorded;
        visit(run);
    }
    return true;
}

LedgerContents ReadLedger(const std::filesystem::path& path) {
    LedgerContents contents;
    ForEachLedgerRun(
        path, [&contents](const LedgerEntry& entry) { contents.entries.push_back(entry); },
        contents.warnings);
    return contents;
}

namespace {

// One CSV row of `fields`: their names for the header, else their values.
std::string CsvRow(const Json& fields, bool header) {
    std::string row;
    bool first = true;
    for (const auto& [name, value] : fields.items()) {
        if (!first) {
            row += ',';
        }
        first = false;
        row += CsvField(header              ? name
                        : value.is_string() ? value.get<std::string>()
                                            : value.dump(),
                        header || value.is_string());
    }
    return row + "\r\n";
}

}  // namespace

std::string LedgerCsvHeader() {
    return CsvRow(FieldsOf(LedgerEntry{}), true);
}

std::string LedgerCsvRow(const LedgerEntry& entry) {
    return CsvRow(FieldsOf(entry), false);
}

std::string LedgerCsv(const std::vector<LedgerEntry>& entries) {
    std::string csv = LedgerCsvHeader();
    for (const LedgerEntry& entry : entries) {
        csv += LedgerCsvRow(entry);
    }
    return csv;
}

}  // namespace velmorin
