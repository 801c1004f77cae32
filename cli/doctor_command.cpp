// SPDX-License-Identifier: MIT
// The pre-flight checks from a terminal: the device list's chargers and
// ports with the platform's checks (doctor_checks.h) and whether each takes
// the bootloader's rate, then the virtual device directory, each finding
// with its fix. A plain port nobody asked for is shown but left out of the
// verdict: most PCs have a built-in port that is no charger's.
#include "doctor_command.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "device/device_name.h"
#include "device/hid_interface.h"
#include "device/serial_node.h"
#include "device/serial_port.h"
#include "device/virtual/virtual_devices.h"
#include "device_argument.h"
#include "doctor_checks.h"
#include "image/code_page.h"
#include "output.h"
#include "port_diagnosis.h"
#include "session/device_table.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

// The rate the bootloader listens at.
constexpr std::uint32_t kBootloaderBaudRate = 128000;

struct DoctorBlock {
    std::string device;
    std::string node;
    std::string line;  // the device list's line, UTF-8
    std::vector<DoctorCheck> checks;
    // Whether its findings decide the verdict and the exit status; a plain
    // port's do only when it was named or plain ports were asked for.
    bool counted = true;
};

const char* StatusName(CheckStatus status) {
    switch (status) {
    case CheckStatus::Ok:
        return "ok";
    case CheckStatus::Warning:
        return "warning";
    case CheckStatus::Problem:
        return "problem";
    }
    return "problem";
}

bool HasProblem(const std::vector<DoctorCheck>& checks) {
    return std::any_of(checks.begin(), checks.end(), [](const DoctorCheck& check) {
        return check.status == CheckStatus::Problem;
    });
}

// Whether the port runs at the bootloader's rate: opened as an upgrade opens
// it, so a UART that keeps another rate is caught here rather than half-way.
DoctorCheck CheckBootloaderRate(const DoctorTarget& target, bool blocked) {
    DoctorCheck check{"128000 baud", CheckStatus::Ok, "", {}};
    if (blocked) {
        check.status = CheckStatus::Warning;
        check.finding = "not tried: the port cannot be opened now (see above)";
        check.fix = {"Fix the problems above and run `velmorin-cli doctor` again."};
        return check;
    }
    SerialOpenFailure failure;
    if (SerialPort::Open(target.node, kBootloaderBaudRate, failure) != nullptr) {
        check.finding = "the port takes 128000 baud";
        return check;
    }
    check.status = CheckStatus::Problem;
    check.finding = failure.text;
    check.fix = ExplainPortFailure(target.node, failure.error,
                                   failure.rateKept != 0 ? kBootloaderBaudRate : 0);
    return check;
}

DoctorBlock CheckDevice(const DoctorTarget& target, const std::string& line) {
    DoctorBlock block{target.deviceName, target.node, line, CheckDeviceAccess(target)};
    if (!target.hid) {
        block.checks.push_back(CheckBootloaderRate(target, HasProblem(block.checks)));
    }
    return block;
}

// What the table's entry `entry` is opened through: its node (or socket),
// and whether it is a virtual device.
std::optional<DoctorTarget> TargetOf(const DeviceEntry& entry,
                                     const std::vector<HidInterfaceInfo>& interfaces,
                                     const std::vector<VirtualSerialDevice>& virtualSerial) {
    const std::optional<DeviceName> name = ParseDeviceName(entry.deviceName);
    if (!name) {
        return std::nullopt;
    }
    DoctorTarget target;
    target.deviceName = entry.deviceName;
    target.plainPort = entry.IsPlainPort();
    if (name->kind == DeviceKind::Hid) {
        if (name->number >= interfaces.size()) {
            return std::nullopt;
        }
        target.hid = true;
        target.node = interfaces[name->number].path;
        target.isVirtual = interfaces[name->number].isVirtual;
        return target;
    }
    const std::optional<std::string> node = SerialNodeForComNumber(name->number);
    if (!node) {
        return std::nullopt;
    }
    target.node = *node;
    target.isVirtual = std::any_of(
        virtualSerial.begin(), virtualSerial.end(), [&](const VirtualSerialDevice& serial) {
            return serial.portNumber == name->number && serial.node == target.node;
        });
    return target;
}

std::string FileText(const std::filesystem::path& file, int& error) {
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = errno != 0 ? errno : EIO;
        return {};
    }
    error = 0;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The virtual device directory's troubles, decided as the device list
// decides them (ReadVirtualDevices): a directory that cannot be read lists
// nothing; a description file that cannot be read or describes no device
// is skipped, and so is a serial device whose node is gone, one that claims
// a port of this system, and a HID device with nobody listening on its
// socket.
DoctorBlock CheckVirtualDirectory(const std::filesystem::path& directory) {
    DoctorBlock block{kVirtualDevicesVariable, directory.string(), "virtual devices", {}};
    const std::string restart = "Start the simulator again (velmorin-sim serial|hid --dir " +
                                directory.string() + "), or remove the file.";
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(directory, error);
    if (!std::filesystem::exists(status)) {
        block.checks.push_back({"directory",
                                CheckStatus::Problem,
                                "the directory does not exist, so no virtual device is listed",
                                {"Create it (velmorin-sim makes it with --dir), or unset " +
                                 std::string(kVirtualDevicesVariable) + "."}});
        return block;
    }
    if (!std::filesystem::is_directory(status)) {
        block.checks.push_back({"directory",
                                CheckStatus::Problem,
                                "not a directory, so no virtual device is listed",
                                {"Point " + std::string(kVirtualDevicesVariable) +
                                 " at the simulator's --dir directory, or unset it."}});
        return block;
    }
    std::vector<std::filesystem::path> files;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) {
        block.checks.push_back(
            {"directory",
             CheckStatus::Problem,
             "the directory cannot be read (" + error.message() +
                 "), so no virtual device is "
                 "listed",
             {"Give this user read and search permission on it (chmod u+rx), or run as the "
              "user who made it."}});
        return block;
    }
    for (const auto& entry : entries) {
        std::error_code typeError;
        if (entry.path().extension() == ".json" && entry.is_regular_file(typeError)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    const VirtualDevices reachable = ReadVirtualDevices(directory);
    block.checks.push_back({"directory",
                            CheckStatus::Ok,
                            "readable, " + std::to_string(files.size()) + " description file" +
                                (files.size() == 1 ? "" : "s") + ", " +
                                std::to_string(reachable.serial.size() + reachable.hid.size()) +
                                " device(s) listed",
                            {}});
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        int readError = 0;
        const std::string text = FileText(file, readError);
        if (readError != 0) {
            block.checks.push_back(
                {"description " + name,
                 CheckStatus::Warning,
                 "cannot be read (" + std::string(std::strerror(readError)) + "); skipped",
                 {"Give this user read permission on it, or remove it."}});
            continue;
        }
        VirtualDevices described;
        AddVirtualDevice(text, directory, described);
        if (described.serial.empty() && described.hid.empty()) {
            const bool json = nlohmann::json::accept(text);
            block.checks.push_back(
                {"description " + name,
                 CheckStatus::Warning,
                 json ? "describes no device; skipped" : "is not valid JSON; skipped",
                 {"A serial device needs \"kind\": \"serial\", \"port\": \"COMn\" and \"node\"; a "
                  "HID device \"kind\": \"hid\", \"vendor_id\", \"product_id\" and \"socket\". "
                  "Fix the file or remove it."}});
            continue;
        }
        for (const VirtualSerialDevice& serial : described.serial) {
            const std::string port = "COM" + std::to_string(serial.portNumber);
            const std::optional<std::string> systemNode = SystemNodeForComNumber(serial.portNumber);
            std::error_code existsError;
            if (systemNode && std::filesystem::exists(*systemNode, existsError)) {
                block.checks.push_back(
                    {"description " + name,
                     CheckStatus::Warning,
                     "describes " + port + ", which is this system's " + *systemNode + "; skipped",
                     {"Give the simulated charger another port number (velmorin-sim serial "
                      "--port COMn)."}});
            } else if (!std::filesystem::exists(serial.node, existsError)) {
                block.checks.push_back(
                    {"description " + name,
                     CheckStatus::Warning,
                     "describes " + port + " at " + serial.node + ", which is gone; skipped",
                     {restart}});
            } else {
                block.checks.push_back(
                    {"description " + name, CheckStatus::Ok, port + " at " + serial.node, {}});
            }
        }
        for (const VirtualHidDevice& hid : described.hid) {
            const bool listened = std::any_of(reachable.hid.begin(), reachable.hid.end(),
                                              [&](const VirtualHidDevice& device) {
                                                  return device.socketPath == hid.socketPath;
                                              });
            if (listened) {
                block.checks.push_back({"description " + name,
                                        CheckStatus::Ok,
                                        "HID device at " + hid.socketPath,
                                        {}});
            } else {
                block.checks.push_back(
                    {"description " + name,
                     CheckStatus::Warning,
                     "nothing listens on its socket " + hid.socketPath + "; skipped",
                     {restart}});
            }
        }
    }
    return block;
}

void PrintBlock(const DoctorBlock& block) {
    std::cout << TerminalSafeField(block.device) << "  " << TerminalSafeField(block.node) << "  "
              << TerminalSafeField(block.line) << '\n';
    if (!block.counted) {
        std::cout << "  (a plain port, not a charger: shown for information; --device "
                  << TerminalSafeField(block.device) << " or --include-com counts it)\n";
    }
    for (const DoctorCheck& check : block.checks) {
        std::string status = StatusName(check.status);
        status.resize(9, ' ');
        std::cout << "  " << status << TerminalSafeField(check.check) << ": "
                  << TerminalSafeField(check.finding) << '\n';
        // "fix:" opens the first line of the fix; the others line up under it.
        for (std::size_t i = 0; i < check.fix.size(); ++i) {
            std::cout << (i == 0 ? "           fix: " : "                ")
                      << TerminalSafeField(check.fix[i]) << '\n';
        }
    }
}

nlohmann::json BlockJson(const DoctorBlock& block) {
    nlohmann::json checks = nlohmann::json::array();
    for (const DoctorCheck& check : block.checks) {
        std::string fix;
        for (const std::string& line : check.fix) {
            fix += (fix.empty() ? "" : "\n") + line;
        }
        checks.push_back({{"check", check.check},
                          {"status", StatusName(check.status)},
                          {"finding", check.finding},
                          {"fix", fix}});
    }
    return {{"device", block.device},
            {"node", block.node},
            {"line", block.line},
            {"counted", block.counted},
            {"checks", checks}};
}

}  // namespace

int RunDoctorCommand(const std::string& device, bool includeComPorts, bool json) {
    DeviceTable table;
    // Every port, held or not: a held port is one of the findings.
    const DeviceTableRebuild rebuild = table.Rebuild(true, false);
    std::vector<std::string> lines = rebuild.lines;
    const std::vector<HidInterfaceInfo> interfaces = EnumerateHidInterfaces();
    const std::vector<VirtualSerialDevice> virtualSerial = ReadVirtualDevices().serial;

    std::vector<int> selected;
    bool missing = false;
    if (device.empty()) {
        for (int i = 0; i < table.Count(); ++i) {
            selected.push_back(i);
        }
    } else {
        const std::string deviceName = DeviceNameFor(device);
        int index = table.IndexOf(deviceName);
        // A HID charger given by its hidraw node (or virtual socket).
        for (int i = 0; index < 0 && i < table.Count(); ++i) {
            const std::optional<DoctorTarget> target =
                TargetOf(table.At(i), interfaces, virtualSerial);
            if (target && target->hid && target->node == device) {
                index = i;
            }
        }
        if (index < 0) {
            const std::optional<DeviceName> name = ParseDeviceName(deviceName);
            std::error_code error;
            if (name && name->kind == DeviceKind::Serial && name->number != 0) {
                const std::optional<std::string> node = SerialNodeForComNumber(name->number);
                if (node && std::filesystem::exists(*node, error)) {
                    index = table.AddNamedPort(deviceName);
                    if (index >= static_cast<int>(lines.size())) {
                        lines.resize(static_cast<std::size_t>(index) + 1, deviceName);
                    }
                }
            }
        }
        if (index >= 0) {
            selected.push_back(index);
        } else {
            missing = true;
        }
    }

    std::vector<DoctorBlock> blocks;
    for (const int index : selected) {
        const DeviceEntry entry = table.At(index);
        const std::string line = CodePageToUtf8(lines[static_cast<std::size_t>(index)]);
        if (const std::optional<DoctorTarget> target = TargetOf(entry, interfaces, virtualSerial)) {
            blocks.push_back(CheckDevice(*target, line));
        } else {
            blocks.push_back({entry.deviceName,
                              "",
                              line,
                              {{"access", CheckStatus::Problem, "the device has no node any more",
                                ExplainPortFailure("", ENODEV)}}});
        }
        blocks.back().counted = !entry.IsPlainPort() || includeComPorts || !device.empty();
    }
    const std::size_t deviceBlocks = blocks.size();
    if (const auto directory = VirtualDeviceDirectory()) {
        blocks.push_back(CheckVirtualDirectory(*directory));
    }

    int problems = 0;
    int warnings = 0;
    int plainPortProblems = 0;  // on plain ports left out of the verdict
    for (const DoctorBlock& block : blocks) {
        for (const DoctorCheck& check : block.checks) {
            if (!block.counted) {
                plainPortProblems += check.status == CheckStatus::Problem ? 1 : 0;
                continue;
            }
            problems += check.status == CheckStatus::Problem ? 1 : 0;
            warnings += check.status == CheckStatus::Warning ? 1 : 0;
        }
    }

    if (!rebuild.discoveryError.empty()) {
        std::cerr << TerminalSafe(rebuild.discoveryError) << '\n';
    }
    if (json) {
        nlohmann::json out = nlohmann::json::array();
        for (const DoctorBlock& block : blocks) {
            out.push_back(BlockJson(block));
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else {
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            std::cout << (i == 0 ? "" : "\n");
            PrintBlock(blocks[i]);
        }
        if (!missing) {
            std::cout << (blocks.empty() ? "" : "\n") << deviceBlocks << " device"
                      << (deviceBlocks == 1 ? "" : "s") << " checked: " << problems << " problem"
                      << (problems == 1 ? "" : "s") << ", " << warnings << " warning"
                      << (warnings == 1 ? "" : "s");
            if (plainPortProblems > 0) {
                std::cout << " (and " << plainPortProblems << " problem"
                          << (plainPortProblems == 1 ? "" : "s")
                          << " on plain ports, which count only with --include-com)";
            }
            std::cout << ". "
                      << (deviceBlocks == 0 ? "No charger to upgrade."
                          : problems > 0    ? "An upgrade would fail until the problems are fixed."
                                            : "Nothing stands in the way of an upgrade.")
                      << '\n';
        }
    }
    if (missing) {
        std::cerr << "velmorin-cli doctor: "
                  << TerminalSafe("no device " + device +
                                  " is connected; `velmorin-cli list --include-com` shows the "
                                  "devices")
                  << '\n';
        return FinishOutput(2);
    }
    if (deviceBlocks == 0) {
        std::cerr << kTextDeviceNotFound << '\n';
    }
    return FinishOutput(problems > 0 || deviceBlocks == 0 ? 1 : 0);
}

}  // namespace velmorin::cli
