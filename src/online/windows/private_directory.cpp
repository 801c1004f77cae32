// SPDX-License-Identifier: MIT
// Private temporary directories on Windows: a new directory under the
// user's temporary directory whose access list names this user alone, not
// inherited from above, so that what goes in it is this user's only.
#include "online/private_directory.h"

#include <windows.h>

#include <random>
#include <vector>

#include "device/windows/wide_text.h"
#include "online/windows/win32_errors.h"

namespace velmorin {
namespace {

// An access list that gives the process's user everything on the directory
// and on what is made in it, and nobody else anything. Empty when the
// user cannot be found out.
std::vector<unsigned char> OwnerOnlyAccess(DWORD& error) {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
        error = ::GetLastError();
        return {};
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    const bool known =
        size != 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size) != 0;
    error = known ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(token);
    if (!known) {
        return {};
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const DWORD aclSize = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) -
                                             sizeof(DWORD) + ::GetLengthSid(sid));
    std::vector<unsigned char> acl(aclSize);
    if (::InitializeAcl(reinterpret_cast<ACL*>(acl.data()), aclSize, ACL_REVISION) == 0 ||
        ::AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION,
                                OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                sid) == 0) {
        error = ::GetLastError();
        return {};
    }
    return acl;
}

}  // namespace

std::filesystem::path MakePrivateDirectory(std::string_view namePrefix, std::string& error) {
    // The user's temporary directory (TMP, else TEMP, else the profile's).
    std::wstring base(MAX_PATH + 1, L'\0');
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    if (length == 0 || length > base.size()) {
        error = "cannot create a temporary directory: " + Win32ErrorText(::GetLastError());
        return {};
    }
    base.resize(length);
    if (base.size() > 3 && (base.back() == L'\\' || base.back() == L'/')) {
        base.pop_back();  // "C:\Users\me\AppData\Local\Temp", not "...\Temp\"
    }
    const auto fail = [&](DWORD code) {
        error = "cannot create a temporary directory in " + windows_text::Utf8(base) + ": " +
                Win32ErrorText(code);
        return std::filesystem::path();
    };

    DWORD aclError = ERROR_SUCCESS;
    std::vector<unsigned char> acl = OwnerOnlyAccess(aclError);
    if (acl.empty()) {
        return fail(aclError);
    }
    SECURITY_DESCRIPTOR descriptor{};
    if (::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) == 0 ||
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl.data()), FALSE) ==
            0 ||
        ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) == 0) {
        return fail(::GetLastError());
    }
    SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};

    // Six letters or digits, as mkdtemp makes them; CreateDirectoryW fails
    // on a name that is taken, so the directory is surely new.
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    DWORD lastError = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 100 && lastError == ERROR_ALREADY_EXISTS; ++attempt) {
        std::wstring name(namePrefix.begin(), namePrefix.end());
        for (int i = 0; i < 6; ++i) {
            name += static_cast<wchar_t>(kLetters[pick(random)]);
        }
        const std::wstring directory = base + L"\\" + name;
        if (::CreateDirectoryW(directory.c_str(), &security) != 0) {
            return std::filesystem::path(directory);
        }
        lastError = ::GetLastError();
    }
    return fail(lastError);
}

}  // namespace velmorin
