// SPDX-License-Identifier: MIT
// Steps shared by the upgrades.
#include "protocol/upgrade_steps.h"

#include <string>

#include "image/update_image.h"
#include "protocol/upgrade_texts.h"

namespace velmorin {

DeviceEntry SelectedEntry(UpgradeHost& host) {
    const int index = host.SelectedIndex();
    if (index < 0 || index >= kMaxDeviceEntries) {
        return {};
    }
    return g_deviceTable[static_cast<std::size_t>(index)];
}

std::optional<UpdateHeader> LoadFileForUpgrade(UpgradeHost& host, bool allowHeaderForm,
                                               ImageCheck& check) {
    host.EnableUpdateButton(false);
    const std::string path = host.PathText();
    host.SetStatusText(std::string(kStatusOpenFile) + path);
    host.ShowStatus(true);
    check = LoadUpdateImage(path, allowHeaderForm, host);
    if (!check.Accepted()) {
        return std::nullopt;
    }
    return StoredHeader();
}

void SetWindowBack(UpgradeHost& host) {
    host.ShowStatus(false);
    host.ShowProgress(false);
    host.EnableUpdateButton(true);
}

}  // namespace velmorin
