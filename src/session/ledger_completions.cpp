// SPDX-License-Identifier: MIT
// The history's completions with one file, read as the history grows.
#include "session/ledger_completions.h"

#include <fstream>
#include <utility>
#include <vector>

#include "image/code_page.h"
#include "session/ledger.h"

namespace velmorin {
namespace {

std::string KeyOf(const std::string& model, const std::string& serialNumber) {
    return model + '\n' + serialNumber;
}

}  // namespace

LedgerCompletions::LedgerCompletions(std::filesystem::path ledgerPath, std::string fileSha256)
    : m_ledgerPath(std::move(ledgerPath)), m_fileSha256(std::move(fileSha256)) {}

std::optional<LedgerCompletions::Completion> LedgerCompletions::Find(const DeviceEntry& charger) {
    if (charger.serialText.empty() || m_ledgerPath.empty() || m_fileSha256.empty()) {
        return std::nullopt;
    }
    ReadAdded();
    // The history keeps the chargers' texts as UTF-8.
    const auto found = m_completions.find(
        KeyOf(CodePageToUtf8(charger.modelText), CodePageToUtf8(charger.serialText)));
    if (found == m_completions.end()) {
        return std::nullopt;
    }
    return found->second;
}

void LedgerCompletions::ReadAdded() {
    std::error_code error;
    // Only a regular file is read: a FIFO would never end.
    if (!std::filesystem::is_regular_file(m_ledgerPath, error)) {
        return;
    }
    const std::uintmax_t size = std::filesystem::file_size(m_ledgerPath, error);
    if (error || size <= m_readUpTo) {
        return;
    }
    std::ifstream in(m_ledgerPath, std::ios::binary);
    if (!in.seekg(static_cast<std::streamoff>(m_readUpTo))) {
        return;
    }
    std::vector<char> added(static_cast<std::size_t>(size - m_readUpTo));
    in.read(added.data(), static_cast<std::streamsize>(added.size()));
    const std::string_view text(added.data(), static_cast<std::size_t>(in.gcount()));
    std::size_t start = 0;
    // Whole lines only: a line being written now is taken on the next call.
    for (std::size_t end = text.find('\n'); end != std::string_view::npos;
         end = text.find('\n', start)) {
        const std::optional<LedgerEntry> entry = ParseLedgerLine(text.substr(start, end - start));
        if (entry && entry->outcome == LedgerOutcome::Completed &&
            entry->fileSha256 == m_fileSha256 && !entry->serialNumber.empty()) {
            m_completions[KeyOf(entry->model, entry->serialNumber)] = {entry->time, entry->station};
        }
        start = end + 1;
    }
    m_readUpTo += start;
}

}  // namespace velmorin
