// SPDX-License-Identifier: MIT
// Which chargers completed with one update file, as this computer's history
// says: a station asks when a charger arrives, so that a charger another
// station (or an earlier session) upgraded with the same bytes is not
// upgraded twice. The history is read once, then only what was added since.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "device/device_entry.h"

namespace velmorin {

class LedgerCompletions {
public:
    // Completions with the file whose SHA-256 is `fileSha256` in the history
    // at `ledgerPath` (none when either is empty).
    LedgerCompletions(std::filesystem::path ledgerPath, std::string fileSha256);

    struct Completion {
        std::string time;     // as the history writes it
        std::string station;  // the computer's name
    };

    // The latest completion of `charger` (its model and serial number as
    // the device list gives them); nothing for a charger without a serial
    // number, which cannot be known again, or when the history has none.
    std::optional<Completion> Find(const DeviceEntry& charger);

private:
    void ReadAdded();

    std::filesystem::path m_ledgerPath;
    std::string m_fileSha256;
    std::uint64_t m_readUpTo = 0;  // bytes of the history taken, whole lines only
    std::map<std::string, Completion> m_completions;  // by model and serial number
};

}  // namespace velmorin
