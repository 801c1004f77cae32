// SPDX-License-Identifier: MIT
// Fuzzes what the tool reads from devices and their descriptions: virtual
// device description files, device names, the texts that devices report,
// the HID bootloader's start packet and its challenge answer.
#include <cstdint>
#include <span>
#include <string_view>

#include "device/device_name.h"
#include "device/device_text.h"
#include "device/virtual/virtual_devices.h"
#include "protocol/bootloader_wire.h"
#include "protocol/challenge_crc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    velmorin::VirtualDevices devices;
    velmorin::AddVirtualDevice(text, "/nonexistent", devices);
    if (devices.serial.size() + devices.hid.size() > 1) {
        __builtin_trap();  // one file describes one device at most
    }
    for (const auto& serial : devices.serial) {
        if (serial.portNumber == 0 || serial.portNumber > 256) {
            __builtin_trap();
        }
    }

    velmorin::ParseDeviceName(text);
    if (velmorin::NarrowDeviceText(text).size() > velmorin::kMaxDeviceTextLength) {
        __builtin_trap();
    }

    velmorin::StartPacket packet;
    velmorin::ParseStartPacket({data, size}, packet);
    if (size >= 20) {
        std::uint32_t words[5];
        for (int i = 0; i < 5; ++i) {
            words[i] = velmorin::LoadLittleEndian32(data + 4 * i);
        }
        velmorin::ChallengeCrc(words);
    }
    return 0;
}
