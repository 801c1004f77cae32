// SPDX-License-Identifier: MIT
// The process's environment and ID, through the C runtime (whose getenv is
// what the code under test reads) and the system.
#include <windows.h>

#include <cstdlib>

#include "support/test_files.h"

namespace velmorin::testing {

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    // An empty value removes the variable from the C runtime's copy.
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
    ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

int ProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

bool FileModesAreReal() {
    return false;
}

std::filesystem::path MakeNonRegularFile(const std::filesystem::path&) {
    return "NUL";
}

}  // namespace velmorin::testing
