// SPDX-License-Identifier: MIT
// The Windows program's own part of start-up: its name. The rules of
// start-up are session/startup.h's.
#pragma once

#include <string>

namespace velmorin::win32 {

// The program file's base name (UTF-8): the name of the single-instance lock
// and the caption of the program's own message boxes.
std::string ApplicationName();

}  // namespace velmorin::win32
