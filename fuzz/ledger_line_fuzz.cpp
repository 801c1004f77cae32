// SPDX-License-Identifier: MIT
// Fuzzes the history's line reader on arbitrary bytes, and checks that an
// entry it reads is written again as one line that reads back to the same
// entry, and that its CSV row keeps every field apart.
#include <cstdint>
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

    // Every field keeps its cell; text cells read back as the text, behind
    // an apostrophe when it would start a formula.
    const auto rows = CsvRows(velmorin::LedgerCsv({*entry}));
    const std::vector<std::string> cells = {
        entry->time,
        entry->station,
        entry->operatorName,
        entry->device,
        entry->slot,
        entry->model,
        entry->serialNumber,
        entry->file,
        entry->fileSha256,
        entry->fileVersion,
        entry->fileType,
        std::string(velmorin::LedgerOutcomeName(entry->outcome)),
        entry->message,
        std::to_string(entry->errorCode),
        std::to_string(entry->attempts),
        std::to_string(entry->frames),
        std::to_string(entry->resends),
        std::to_string(entry->timeouts),
        std::to_string(entry->elapsedMs),
        std::to_string(entry->bytesPerSecond),
        entry->toolVersion,
    };
    if (rows.size() != 2 || rows[0].size() != cells.size() || rows[1].size() != cells.size()) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const bool number = i >= 13 && i <= 19;
        const bool formula =
            !number && !cells[i].empty() &&
            std::string_view("=+-@\t\r").find(cells[i].front()) != std::string_view::npos;
        if (rows[1][i] != (formula ? "'" + cells[i] : cells[i])) {
            __builtin_trap();
        }
    }
    return 0;
}
