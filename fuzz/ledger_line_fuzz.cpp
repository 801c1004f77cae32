// SPDX-License-Identifier: MIT
// Fuzzes the history's line reader on arbitrary bytes, and checks that an
// entry it reads is written again as one line that reads back to the same
// entry, and that its CSV row keeps every field apart under its name.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "session/ledger.h"

namespace {

// The fields of a CSV text, row after row, undoing the quoting; the
// apostrophe that keeps text from reading as a formula stays.
std::vector<std::vector<std::string>> CsvRows(std::string_view csv) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    for (std::size_t i = 0; i < csv.size(); ++i) {
        std::string& field = rows.back().back();
        if (csv[i] == '"') {
            for (++i; i < csv.size(); ++i) {
                if (csv[i] == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (csv[i] == '"') {
                    break;
                } else {
                    field += csv[i];
                }
            }
        } else if (csv[i] == ',') {
            rows.back().emplace_back();
        } else if (csv.substr(i, 2) == "\r\n") {
            ++i;
            rows.emplace_back(1);
        } else {
            field += csv[i];
        }
    }
    rows.pop_back();  // the empty one after the last row's end
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto entry = velmorin::ParseLedgerLine(text);
    if (!entry) {
        return 0;
    }

    const std::string line = velmorin::LedgerLine(*entry);
    if (line.empty() || line.find_first_of("\r\n") != std::string::npos) {
        __builtin_trap();  // an entry is one line in the history
    }
    const auto again = velmorin::ParseLedgerLine(line);
    if (!again || *again != *entry) {
        __builtin_trap();
    }

    // Every field keeps its cell under its name; text cells read back as the
    // text, behind an apostrophe when it would start a formula, numbers bare.
    const auto rows = CsvRows(velmorin::LedgerCsv({*entry}));
    if (rows.size() != 2 || rows[0].size() != rows[1].size()) {
        __builtin_trap();
    }
    const std::map<std::string, std::string> texts = {
        {"time", entry->time},
        {"station", entry->station},
        {"operator", entry->operatorName},
        {"device", entry->device},
        {"slot", entry->slot},
        {"model", entry->model},
        {"serial_number", entry->serialNumber},
        {"file", entry->file},
        {"file_sha256", entry->fileSha256},
        {"file_version", entry->fileVersion},
        {"file_type", entry->fileType},
        {"outcome", std::string(velmorin::LedgerOutcomeName(entry->outcome))},
        {"message", entry->message},
        {"tool_version", entry->toolVersion},
    };
    const std::map<std::string, std::string> numbers = {
        {"error_code", std::to_string(entry->errorCode)},
        {"attempts", std::to_string(entry->attempts)},
        {"frames", std::to_string(entry->frames)},
        {"resends", std::to_string(entry->resends)},
        {"timeouts", std::to_string(entry->timeouts)},
        {"elapsed_ms", std::to_string(entry->elapsedMs)},
        {"bytes_per_second", std::to_string(entry->bytesPerSecond)},
    };
    std::size_t checked = 0;
    for (std::size_t i = 0; i < rows[0].size(); ++i) {
        const std::string& cell = rows[1][i];
        if (const auto named = texts.find(rows[0][i]); named != texts.end()) {
            const std::string& value = named->second;
            const bool formula =
                !value.empty() &&
                std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
            if (cell != (formula ? "'" + value : value)) {
                __builtin_trap();
            }
            ++checked;
        } else if (const auto number = numbers.find(rows[0][i]); number != numbers.end()) {
            if (cell != number->second) {
                __builtin_trap();
            }
            ++checked;
        }
    }
    if (checked != texts.size() + numbers.size()) {
        __builtin_trap();  // a field without its own cell
    }
    return 0;
}
