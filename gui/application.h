// SPDX-License-Identifier: MIT
// The Qt program's own part of start-up: the settings key under which Qt
// would keep settings (registered, never read or written: the program keeps
// none). The rules of start-up are session/startup.h's.
#pragma once

namespace velmorin {

inline constexpr char kSettingsKey[] = "Lindqvar Varno Kestrion";

}  // namespace velmorin
