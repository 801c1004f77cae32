// SPDX-License-Identifier: MIT
// Steps shared by the upgrades.
#include "protocol/upgrade_steps.h"

#include <string>

#include "image/file_path.h"
#include "protocol/upgrade_texts.h"

namespace velmorin {

std::unique_ptr<const UpdateImage> LoadFileForUpgrade(UpgradeHost& host, bool allowHeaderForm,
                                                      ImageCheck& check) {
    host.EnableUpdateButton(false);
    const std::string path = host.PathText();
    host.SetStatusText(std::string(kStatusOpenFile) + path);
    host.ShowStatus(true);
    auto image = std::make_unique<UpdateImage>();
    const UpdateFileBytes* pinned = host.FileBytes();
    check = pinned != nullptr ? LoadUpdateImage(*pinned, allowHeaderForm, *image, host)
                              : LoadUpdateImage(PathFromText(path), allowHeaderForm, *image, host);
    if (!check.Accepted()) {
        return nullptr;
    }
    return image;
}

void SetWindowBack(UpgradeHost& host) {
    host.ShowStatus(false);
    host.ShowProgress(false);
    host.EnableUpdateButton(true);
}

}  // namespace velmorin
