// SPDX-License-Identifier: MIT
// The texts the upgrades show the operator.
#pragma once

#include <string_view>

namespace velmorin {

inline constexpr std::string_view kStatusOpenFile = "Open file: ";
inline constexpr std::string_view kStatusConnecting = "Connecting...";
inline constexpr std::string_view kStatusConnectingAgain = "Connecting again...";
inline constexpr std::string_view kStatusUpgrading = "Upgrading ...";

inline constexpr std::string_view kTextUpgradeCompletion = "Upgrade completion!";
inline constexpr std::string_view kTextErrorOpeningComPort = "Error opening COM port";
inline constexpr std::string_view kTextInconformity =
    "The update file is in inconformity with the device.";
inline constexpr std::string_view kTextNoDeviceAnswered = "Device not found.";
inline constexpr std::string_view kTextErrorCommunication = "Error communication.\n";
inline constexpr std::string_view kTextErrorOpeningUsbHid = "Error opening USB HID";

inline constexpr std::string_view kCaptionSuccess = "Success";
inline constexpr std::string_view kCaptionInfo = "Info";

}  // namespace velmorin
