// SPDX-License-Identifier: MIT
// Holders of a device on Windows. The system tells no program which process
// has a COM port open (only a kernel driver could walk the handle tables),
// so no holders are ever found; a busy port is reported without them.
#include "device/node_holders.h"

#include <windows.h>

#include <array>

#include "device/windows/wide_text.h"

namespace velmorin {

std::vector<NodeHolder> ProcessesHoldingNode(const std::string& /*node*/) {
    return {};
}

std::string ProcessCommand(const std::string& pid) {
    if (pid.empty() || pid.size() > 10 ||
        pid.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    const unsigned long long number = std::stoull(pid);
    if (number == 0 || number > MAXDWORD) {
        return {};
    }
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(number));
    if (process == nullptr) {
        return {};
    }
    std::array<wchar_t, MAX_PATH * 2> image{};
    auto length = static_cast<DWORD>(image.size());
    const BOOL found = ::QueryFullProcessImageNameW(process, 0, image.data(), &length);
    ::CloseHandle(process);
    if (!found) {
        return {};
    }
    // The program's file name, as a command name says which program runs.
    const std::wstring_view path(image.data(), length);
    const std::size_t slash = path.find_last_of(L"\\/");
    return windows_text::Utf8(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

}  // namespace velmorin
