// SPDX-License-Identifier: MIT
// The history's lines and their CSV form: the fields' names and order live
// here once. Writing the file, and where it is, is each platform's own
// (ledger_file.cpp).
#include "session/ledger.h"

#include <array>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "image/file_path.h"
#include "image/update_file_reader.h"

namespace velmorin {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::pair<LedgerOutcome, std::string_view>, 6> kOutcomeNames{{
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
        Take(object, "time", entry.time) && Take(object, "station", entry.station) &&
        Take(object, "operator", entry.operatorName) && Take(object, "device", entry.device) &&
        Take(object, "slot", entry.slot) && Take(object, "model", entry.model) &&
        Take(object, "serial_number", entry.serialNumber) && Take(object, "file", entry.file) &&
        Take(object, "file_sha256", entry.fileSha256) &&
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

LedgerContents ReadLedger(const std::filesystem::path& path) {
    LedgerContents contents;
    std::error_code statusError;
    if (std::filesystem::symlink_status(path, statusError).type() ==
        std::filesystem::file_type::not_found) {
        return contents;
    }
    UpdateFileReader reader(path);
    std::string text;
    if (reader.IsOpen()) {
        text.resize(static_cast<std::size_t>(reader.Length()));
        const std::int64_t count = reader.Read(
            std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
        text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    if (!reader.IsOpen()) {
        contents.warnings.push_back(reader.Error());
        return contents;
    }
    const std::string fileName = TextOfPath(path.filename());
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++lineNumber;
        const std::string_view line = std::string_view(text).substr(start, end - start);
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            // A blank line holds no upgrade (a line written where the file
            // might have ended in a torn one starts with a line end).
            start = end + 1;
            continue;
        }
        // JSON takes a CR before the line end as blank space.
        if (auto entry = ParseLedgerLine(std::string_view(text).substr(start, end - start))) {
            contents.entries.push_back(std::move(*entry));
        } else {
            contents.warnings.push_back(fileName + " line " + std::to_string(lineNumber) +
                                        " cannot be read; skipped");
        }
        start = end + 1;
    }
    return contents;
}

std::string LedgerCsv(const std::vector<LedgerEntry>& entries) {
    std::string csv;
    const auto addRow = [&csv](const Json& fields, bool header) {
        bool first = true;
        for (const auto& [name, value] : fields.items()) {
            if (!first) {
                csv += ',';
            }
            first = false;
            csv += CsvField(header              ? name
                            : value.is_string() ? value.get<std::string>()
                                                : value.dump(),
                            header || value.is_string());
        }
        csv += "\r\n";
    };
    addRow(FieldsOf(LedgerEntry{}), true);
    for (const LedgerEntry& entry : entries) {
        addRow(FieldsOf(entry), false);
    }
    return csv;
}

}  // namespace velmorin
