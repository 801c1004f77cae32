// SPDX-License-Identifier: MIT
// The two file-information steps shared by the header check, the whole-file
// load and the upgrades.
#include "image/file_info_display.h"

#include <span>

#include "app/device_table.h"
#include "image/code_page.h"
#include "image/update_header.h"
#include "image/update_image.h"

namespace velmorin {

bool g_bFileAccepted = false;

void FileInfoReset(FileInfoDisplay& display, std::string_view reason) {
    g_bFileAccepted = false;
    display.ResetFileInfo(reason);
}

void FileInfoShow(FileInfoDisplay& display) {
    const UpdateHeader header = StoredHeader();
    const FileInfoText info{CodePageToUtf8(header.version), CodePageToUtf8(header.type),
                            CodePageToUtf8(header.memo)};
    g_bFileAccepted = true;
    display.ShowFileInfo(info, g_deviceCount != 0);
}

}  // namespace velmorin
