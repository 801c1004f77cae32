// SPDX-License-Identifier: MIT
// Steps that both upgrades take: the start with the file, and setting the
// window back at the end.
#pragma once

#include <memory>

#include "image/update_header.h"
#include "image/update_image.h"
#include "protocol/upgrade_host.h"

namespace velmorin {

// Disables the Update button, shows "Open file: " and the path, and loads the
// file into an image of the run's own. The loaded image, or nothing when the
// load ended the run (it has shown what it shows). `check` tells what the
// load made of the file.
std::unique_ptr<const UpdateImage> LoadFileForUpgrade(UpgradeHost& host, bool allowHeaderForm,
                                                      ImageCheck& check);

// Hides the status line and the progress bar and enables the Update button.
void SetWindowBack(UpgradeHost& host);

}  // namespace velmorin
