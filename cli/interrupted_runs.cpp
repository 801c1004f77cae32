// SPDX-License-Identifier: MIT
// The places of the interrupted runs' lines, by charger.
#include <utility>

#include "interrupted_record.h"

namespace velmorin::cli {

InterruptedRuns::InterruptedRuns(std::filesystem::path ledgerPath, UpgradedFile file,
                                 std::string operatorName)
    : m_ledgerPath(std::move(ledgerPath)),
      m_file(std::move(file)),
      m_operatorName(std::move(operatorName)) {}

void InterruptedRuns::Started(const std::string& key, const DeviceEntry& device,
                              const std::string& slot) {
    if (m_ledgerPath.empty()) {
        return;
    }
    int place = -1;
    for (int i = 0; i < static_cast<int>(m_keys.size()); ++i) {
        const std::string& held = m_keys[static_cast<std::size_t>(i)];
        if (held == key) {
            place = i;
            break;
        }
        if (held.empty() && place < 0) {
            place = i;
        }
    }
    if (place < 0) {
        return;  // more runs at once than the device table lists
    }
    m_keys[static_cast<std::size_t>(place)] = key;
    UpgradeReport report;
    report.deviceName = device.deviceName;
    HoldInterruptedLine(
        place, m_ledgerPath,
        LedgerEntryFor(report, device, slot, m_file, m_operatorName, kInterruptedRunMessage));
}

void InterruptedRuns::Ended(const std::string& key) {
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        if (!key.empty() && m_keys[i] == key) {
            DropInterruptedLine(static_cast<int>(i));
            m_keys[i].clear();
        }
    }
}

}  // namespace velmorin::cli
