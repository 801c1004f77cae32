// SPDX-License-Identifier: MIT
// Simulated chargers announced in the virtual device directory: a serial
// charger behind a pseudo-terminal, a HID charger behind a SOCK_SEQPACKET
// socket. Each lives until the program is stopped, then takes its
// description file (and socket) away again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace velmorin::sim {

struct SerialChargerOptions {
    std::filesystem::path directory;
    std::string port = "COM201";
    std::string description = "Kestrion Charger";
    std::string product = "Varno Kestrion X";  // the bus text; "Varno..." marks a charger
    std::string serialNumber = "0001A2B3";
};

struct HidChargerOptions {
    std::filesystem::path directory;
    std::string name = "charger1";
    std::string vendorId = "0x0483";
    std::string productId = "0x5750";
    std::string product = "Varno Kestrion X";
    std::string serialNumber = "HX000123";
};

// Announce the charger and serve it until SIGINT or SIGTERM. Exit status.
int RunSerialCharger(const SerialChargerOptions& options);
int RunHidCharger(const HidChargerOptions& options);

}  // namespace velmorin::sim
