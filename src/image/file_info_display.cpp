// SPDX-License-Identifier: MIT
// The two file-information steps shared by the header check, the whole-file
// load and the upgrades.
#include "image/file_info_display.h"

#include "image/code_page.h"

namespace velmorin {

void FileInfoReset(FileInfoDisplay& display, std::string_view reason) {
    display.ResetFileInfo(reason);
}

FileInfoText FileInfoTextOf(const UpdateHeader& header) {
    return {CodePageToUtf8(header.version), CodePageToUtf8(header.type),
            CodePageToUtf8(header.memo)};
}

void FileInfoShow(FileInfoDisplay& display, const UpdateHeader& header) {
    display.ShowFileInfo(FileInfoTextOf(header));
}

}  // namespace velmorin
