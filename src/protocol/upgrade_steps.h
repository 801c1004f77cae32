// SPDX-License-Identifier: MIT
// Steps that both upgrades take: reading the selected device entry, the
// start with the file, and setting the window back at the end.
#pragma once

#include <optional>

#include "app/device_table.h"
#include "image/update_header.h"
#include "image/update_image.h"
#include "protocol/upgrade_host.h"

namespace velmorin {

// The entry at the list's current selection, read afresh each time (a device
// change may rebuild the table while an upgrade pumps messages), or an empty
// entry when nothing is selected.
DeviceEntry SelectedEntry(UpgradeHost& host);

// Disables the Update button, shows "Open file: " and the path, and loads the
// file. The header of the loaded image, taken once for the whole run (a
// header check from the message pump may rewrite the store's header), or
// nothing when the load ended the run (it has shown what it shows). `check`
// tells what the load made of the file.
std::optional<UpdateHeader> LoadFileForUpgrade(UpgradeHost& host, bool allowHeaderForm,
                                               ImageCheck& check);

// Hides the status line and the progress bar and enables the Update button.
void SetWindowBack(UpgradeHost& host);

}  // namespace velmorin
