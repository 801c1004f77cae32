// SPDX-License-Identifier: MIT
// Simulated chargers announced in the virtual device directory: a serial
// charger behind a pseudo-terminal, a HID charger behind a SOCK_SEQPACKET
// socket. Each plays the charger's side of the upgrade (firmware, then
// bootloader), checks what arrives on the wire, saves the payload it
// received, and can be scripted to misbehave. It lives until SIGINT or
// SIGTERM, then withdraws its description. Either can instead be played,
// unannounced, on a USB gadget's node (a tty, /dev/hidgN), so that the host
// reaches it through the kernel's own USB drivers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmorin::sim {

// Faults that the serial charger plays; counts are "the first N times".
struct SerialFaults {
    int silentEnter = 0;   // no answer to the enter command (but enter the bootloader)
    int silentWake = 0;    // no answer to the wake
    int wrongWake = 0;     // 'X' to the wake
    int refuseLength = 0;  // 'X' to the length frame
    int resendBlock = -1;  // block asked for again ('5') ...
    int resendCount = 0;   // ... this many times each time it comes
    int refuseBlock = -1;  // block refused ('X') ...
    int refuseCount = 0;   // ... the first this many times it comes
    int hangUpBlock = -1;  // when this block arrives, hang up the terminal as an unplugged
                           // adapter does, answer nothing more and exit
    int lateBlock = -1;    // this block answered late, the first time it comes ...
    int lateMs = 0;        // ... by this many ms
    int lateWakeMs = 0;    // every wake answered this many ms late
};

// A charger played on a USB gadget: its configfs directory, whose UDC file
// unplugs and replugs it.
struct GadgetOptions {
    std::filesystem::path directory;  // empty: no gadget
    int unplugBlock = -1;    // the first time this block arrives, unplug and answer nothing ...
    int replugAfterMs = -1;  // ... then replug after this many ms (-1: stay unplugged)
};

struct SerialChargerOptions {
    std::filesystem::path directory;
    std::string node;  // a tty to play the charger on (a gadget's); empty: a pseudo-terminal
    std::string port = "COM201";
    std::string description = "Kestrion Charger";
    std::string product = "Varno Kestrion X";  // the bus text; "Varno..." marks a charger
    std::string serialNumber = "0001A2B3";
    std::string idPath;                // the udev ID_PATH it claims; empty: none
    std::string modelCode = "0x01";    // the charger's own model
    std::filesystem::path savePath;    // the payload of each completed transfer
    std::filesystem::path reportPath;  // what the charger saw, as JSON
    bool recordWire = false;           // list every exchange received in the report
    // Takes each byte at the rate its place in the conversation calls for,
    // whatever rate the terminal is set to: for hosts that cannot set the
    // rate on a pseudo-terminal (Wine sets 38400 when 128000 is asked).
    bool anyRate = false;
    SerialFaults faults;
    GadgetOptions gadget;  // with `node` only
};

struct HidFaults {
    int silentModel = 0;        // no answer to the model command (bootloader taken as running)
    int refuseStart = 0;        // 'X' to the start packet
    int silentStart = 0;        // no answer to the start packet
    int silentReply = 0;        // no answer to the reply
    int refuseReply = 0;        // 'X' to the reply
    int wrongChallenge = 0;     // a challenge whose CRC does not come out 0
    int restartAfterReply = 0;  // '5' to the reply: restart and come back
    int silentBlock = -1;       // no answer to this block ...
    int silentCount = 1;        // ... the first this many times it comes
    int refuseBlock = -1;       // 'X' to this block ...
    int refuseCount = 1;        // ... the first this many times it comes
    int lateBlock = -1;         // answers from this block on given late ...
    int lateCount = 1;          // ... this many of them ...
    int lateMs = 0;             // ... each by this many ms
    bool neverBack = false;     // after '&' to the model command, stay away
};

struct HidChargerOptions {
    std::filesystem::path directory;
    std::string name = "charger1";
    std::string vendorId = "0x0483";
    std::string productId = "0x5750";
    std::string product = "Varno Kestrion X";
    std::string serialNumber = "HX000123";
    std::string idPath;
    std::string modelCode = "0x01";
    int absenceMs = 300;  // how long the charger is off the bus while it restarts
    std::filesystem::path savePath;
    std::filesystem::path reportPath;
    bool recordWire = false;             // list every report received in the report
    std::vector<std::string> challenge;  // w1, w2, w3 of every challenge, instead of chance
    HidFaults faults;
    GadgetOptions gadget;             // set: played on the gadget's report node
    std::string hidg = "/dev/hidg0";  // that node: 64-byte reports, no report IDs
};

// Announce the charger (unless played on a node) and serve it until
// stopped. Exit status.
int RunSerialCharger(const SerialChargerOptions& options);
int RunHidCharger(const HidChargerOptions& options);

}  // namespace velmorin::sim
