// SPDX-License-Identifier: MIT
// `velmorin-cli list`: the device table as the device list shows it.
#pragma once

namespace velmorin::cli {

// Prints one line per entry: the device name, a tab, the list line. Exit
// status 0; a discovery error is printed and counts as no device.
int RunListCommand(bool includeComPorts, bool json);

}  // namespace velmorin::cli
