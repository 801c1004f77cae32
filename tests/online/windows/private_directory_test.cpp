// SPDX-License-Identifier: MIT
// The private directories on Windows: under the user's temporary directory,
// new each time, and open to this user alone, whatever the directory above
// would pass on.
#include "online/private_directory.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmorin {
namespace {

// The access list of `path`: whether it stands alone (takes nothing from
// the directory above), and which accounts it lets in.
struct Access {
    bool protectedList = false;
    std::vector<std::vector<unsigned char>> allowed;  // the accounts' SIDs
    int denied = 0;
};

Access AccessOf(const std::filesystem::path& path) {
    Access access;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &acl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    if (descriptor == nullptr) {
        return access;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    access.protectedList = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        void* entry = nullptr;
        ::GetAce(acl, i, &entry);
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            const PSID sid = &allowed->SidStart;
            const auto* bytes = static_cast<const unsigned char*>(sid);
            access.allowed.emplace_back(bytes, bytes + ::GetLengthSid(sid));
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            ++access.denied;
        }
    }
    ::LocalFree(descriptor);
    return access;
}

std::vector<unsigned char> CurrentUser() {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
    ::CloseHandle(token);
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return {bytes, bytes + ::GetLengthSid(sid)};
}

// Wine keeps no access lists on files: it makes one up from the Unix mode.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Directories made for a test, removed at its end.
struct Made {
    std::vector<std::filesystem::path> paths;
    ~Made() {
        std::error_code ignored;
        for (const auto& path : paths) {
            std::filesystem::remove(path, ignored);
        }
    }
};

TEST(PrivateDirectory, NewEachTimeInTheUsersTemporaryDirectory) {
    std::string error;
    const Made made{{MakePrivateDirectory("velmorin-test-", error),
                     MakePrivateDirectory("velmorin-test-", error)}};
    const std::filesystem::path& first = made.paths[0];
    ASSERT_FALSE(first.empty()) << error;
    ASSERT_FALSE(made.paths[1].empty()) << error;
    EXPECT_TRUE(std::filesystem::is_directory(first));
    EXPECT_NE(first, made.paths[1]);
    std::wstring temporary(MAX_PATH + 1, L'\0');
    temporary.resize(::GetTempPathW(MAX_PATH + 1, temporary.data()));
    EXPECT_EQ(first.parent_path().wstring() + L"\\", temporary);
    EXPECT_EQ(first.filename().string().rfind("velmorin-test-", 0), 0u);
}

TEST(PrivateDirectory, OpenToThisUserAlone) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine keeps no access lists on files: it makes one up from the mode";
    }
    std::string error;
    const Made made{{MakePrivateDirectory("velmorin-test-", error)}};
    ASSERT_FALSE(made.paths[0].empty()) << error;
    const Access access = AccessOf(made.paths[0]);
    EXPECT_TRUE(access.protectedList);
    ASSERT_EQ(access.allowed.size(), 1u);
    EXPECT_EQ(access.allowed[0], CurrentUser());
    EXPECT_EQ(access.denied, 0);
}

}  // namespace
}  // namespace velmorin
