// SPDX-License-Identifier: MIT
// The upgrade history on Windows: under the user's local application data,
// appended through a handle that may only append, in one write, and flushed,
// so that lines from programs running side by side never interleave and a
// finished upgrade's line survives a power cut.
#include <windows.h>

#include <string>

#include "device/windows/wide_text.h"
#include "image/file_path.h"
#include "online/windows/win32_errors.h"
#include "session/ledger.h"
#include "session/ledger_path.h"

namespace velmorin {
namespace {

// A variable's value as UTF-8; empty when unset.
std::string Environment(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
    if (length == 0 || length >= size) {
        return {};
    }
    value.resize(length);
    return windows_text::Utf8(value);
}

// Makes `folder` and the folders above it. Returns ERROR_SUCCESS, or the
// error of the failure (ERROR_DIRECTORY when a file is in the way).
DWORD MakeFolders(const std::filesystem::path& folder) {
    std::filesystem::path prefix;
    for (const std::filesystem::path& part : folder) {
        prefix /= part;
        if (!prefix.has_relative_path()) {
            continue;  // the drive or the share
        }
        if (::CreateDirectoryW(prefix.c_str(), nullptr) != 0) {
            continue;
        }
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                continue;
            }
            return ERROR_DIRECTORY;
        }
        return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::filesystem::path DefaultLedgerPath() {
    std::string local = Environment(L"LOCALAPPDATA");
    if (local.empty()) {
        const std::string profile = Environment(L"USERPROFILE");
        if (profile.empty()) {
            return {};
        }
        return PathFromText(profile) / "AppData" / "Local" / "velmorin" / "history.jsonl";
    }
    return PathFromText(local) / "velmorin" / "history.jsonl";
}

std::string_view LedgerFolderVariable() {
    return "LOCALAPPDATA";
}

std::string AppendToLedger(const std::filesystem::path& path, const LedgerEntry& entry) {
    const auto fail = [&path](DWORD error) {
        return "cannot write the history to " + TextOfPath(path) + ": " + Win32ErrorText(error);
    };
    std::string line = LedgerLine(entry);
    if (line.empty()) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    line += '\n';
    if (path.has_parent_path()) {
        if (const DWORD error = MakeFolders(path.parent_path()); error != ERROR_SUCCESS) {
            return fail(error);
        }
    }
    // Append only (no FILE_WRITE_DATA): every write lands at the end, as
    // with O_APPEND; reading tells whether a torn last line needs ending.
    // Others may read and append at the same time.
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return fail(::GetLastError());
    }
    const auto closeAndFail = [&](DWORD error) {
        ::CloseHandle(file);
        return fail(error);
    };
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return closeAndFail(ERROR_INVALID_PARAMETER);
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) == 0) {
        return closeAndFail(::GetLastError());
    }
    if (size.QuadPart > 0) {
        const auto lastOffset = static_cast<ULONGLONG>(size.QuadPart - 1);
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(lastOffset & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(lastOffset >> 32);
        char last = '\n';
        DWORD count = 0;
        if (::ReadFile(file, &last, 1, &count, &at) == 0 || count != 1) {
            const DWORD error = ::GetLastError();
            return closeAndFail(error != ERROR_SUCCESS ? error : ERROR_READ_FAULT);
        }
        if (last != '\n') {
            line.insert(line.begin(), '\n');
        }
    }
    if (line.size() > MAXDWORD) {
        return closeAndFail(ERROR_INVALID_PARAMETER);
    }
    // An offset of all ones also asks for the end of the file.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xffffffffu;
    atEnd.OffsetHigh = 0xffffffffu;
    DWORD written = 0;
    if (::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, &atEnd) == 0) {
        return closeAndFail(::GetLastError());
    }
    if (written != line.size()) {
        return closeAndFail(ERROR_HANDLE_DISK_FULL);
    }
    if (::FlushFileBuffers(file) == 0) {
        return closeAndFail(::GetLastError());
    }
    ::CloseHandle(file);
    return {};
}

std::string StationName() {
    DWORD size = 0;
    ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
    if (size == 0) {
        return {};
    }
    std::wstring name(size, L'\0');
    if (::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size) == 0) {
        return {};
    }
    name.resize(size);
    return windows_text::Utf8(name);
}

std::string OperatorName() {
    if (std::string name = Environment(L"USERNAME"); !name.empty()) {
        return name;
    }
    // A service runs without %USERNAME%: ask for the account the process
    // runs as.
    DWORD size = 0;
    ::GetUserNameW(nullptr, &size);
    if (size == 0) {
        return {};
    }
    std::wstring name(size, L'\0');
    if (::GetUserNameW(name.data(), &size) == 0 || size == 0) {
        return {};
    }
    name.resize(size - 1);  // the count includes the terminating null
    return windows_text::Utf8(name);
}

}  // namespace velmorin
