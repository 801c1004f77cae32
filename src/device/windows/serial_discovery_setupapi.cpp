// SPDX-License-Identifier: MIT
// The system's serial ports from SetupAPI: every present device of the Ports
// class whose port name is a COM number, with its friendly name, its
// description and the description the bus reports (a USB device's product
// string) as its bus text, and its device instance ID giving the fields of
// its device path (the instance part is a USB device's serial number). COM
// ports that only the system's serial map names (drivers outside the Ports
// class; under Wine, every port) are added as plain ports.
#include <windows.h>
// After windows.h, which they need.
#include <devpropdef.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "device/device_text.h"
#include "device/port_discovery.h"
#include "device/serial_node.h"
#include "device/windows/wide_text.h"

namespace velmorin {
namespace {

// The Ports setup class (COM and printer ports) and the device property of
// the description the bus reports, as the system defines them.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

struct DeviceSetDeleter {
    void operator()(HDEVINFO set) const { ::SetupDiDestroyDeviceInfoList(set); }
};
using DeviceSet = std::unique_ptr<void, DeviceSetDeleter>;

struct KeyDeleter {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyDeleter>;

DiscoveryError Failure(const char* what, DWORD error) {
    char text[128];
    std::snprintf(text, sizeof text, "%s failed. (err=%lx)", what,
                  static_cast<unsigned long>(error));
    return DiscoveryError(text);
}

// A wide text the system filled in, up to its first terminating zero.
std::wstring Terminated(const std::wstring& buffer) {
    return buffer.substr(0, std::min(buffer.find(L'\0'), buffer.size()));
}

// A text property of the device's registry entry; empty when it has none.
std::wstring RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(
            set, &device, property, &type, reinterpret_cast<BYTE*>(value.data()),
            static_cast<DWORD>(value.size() * sizeof(wchar_t)), nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return Terminated(value);
}

// The description that the bus reports for the device (the product string
// of a USB device); empty when the bus reports none.
std::wstring BusReportedDescription(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    ::SetupDiGetDevicePropertyW(set, &device, &kBusReportedDeviceDesc, &type, nullptr, 0, &size, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::SetupDiGetDevicePropertyW(
            set, &device, &kBusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(value.data()),
            static_cast<DWORD>(value.size() * sizeof(wchar_t)), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING) {
        return {};
    }
    return Terminated(value);
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD size = 0;
    ::SetupDiGetDeviceInstanceIdW(set, &device, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::wstring id(size + 1, L'\0');
    if (!::SetupDiGetDeviceInstanceIdW(set, &device, id.data(), static_cast<DWORD>(id.size()),
                                       nullptr)) {
        return {};
    }
    return Terminated(id);
}

// The port name ("COM3", "LPT1") that the port's driver keeps in the
// device's hardware key.
std::wstring PortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY opened =
        ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE) {
        return {};
    }
    const Key key(opened);
    std::wstring name(64, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), L"PortName", nullptr, &type,
                           reinterpret_cast<BYTE*>(name.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    name.resize(std::min<std::size_t>(size / sizeof(wchar_t), name.size()));
    return Terminated(name);
}

// The instance ID's fields ("USB\VID_0403&PID_6001\A50285BI") as the first
// fields of a device path ("\\?\USB#VID_0403&PID_6001#A50285BI"), so that
// its third field is the instance: a USB device's serial number.
std::string DevicePathOfInstance(const std::string& instanceId) {
    std::string path = "\\\\?\\";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = instanceId.find('\\', start);
        path += DevicePathField(instanceId.substr(start, end - start));
        if (end == std::string::npos) {
            return path;
        }
        path += '#';
        start = end + 1;
    }
}

struct FoundPort {
    std::uint32_t comNumber;
    DiscoveredDevice record;
};

std::optional<FoundPort> DescribePort(HDEVINFO set, SP_DEVINFO_DATA& device) {
    // Printer ports share the class; only COM ports count.
    const std::string portName = NarrowDeviceText(PortName(set, device));
    const auto comNumber = ComNumberForTty(portName);
    if (!comNumber) {
        return std::nullopt;
    }
    const std::string comName = "COM" + std::to_string(*comNumber);

    FoundPort port{*comNumber, {}};
    DiscoveredDevice& record = port.record;
    // The device name is the port's own, whatever the product text around it
    // in the friendly name holds.
    record.portName = comName;
    record.description = NarrowDeviceText(RegistryProperty(set, device, SPDRP_DEVICEDESC));
    record.busDescription = NarrowDeviceText(BusReportedDescription(set, device));
    record.friendlyName = NarrowDeviceText(RegistryProperty(set, device, SPDRP_FRIENDLYNAME));
    if (record.friendlyName.empty()) {
        record.friendlyName = (!record.busDescription.empty() ? record.busDescription
                               : !record.description.empty()  ? record.description
                                                             : std::string("Communications Port")) +
                              " (" + comName + ")";
    }
    record.devicePath =
        DevicePathOfInstance(windows_text::Utf8(InstanceId(set, device))) + "#\\\\.\\" + comName;
    record.isUsbDevice = IsChargerBusText(record.busDescription) ? 1 : 0;
    return port;
}

// The COM ports of the system's serial map (HARDWARE\DEVICEMAP\SERIALCOMM:
// the driver's device name, such as \Device\Serial0, to the port name) that
// `ports` does not hold yet, described as a port without USB behind it. The
// map is absent when the system has no serial port at all.
void AddMappedPorts(std::vector<FoundPort>& ports) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                        &opened) != ERROR_SUCCESS) {
        return;
    }
    const Key key(opened);
    for (DWORD index = 0;; ++index) {
        std::array<wchar_t, 256> deviceName{};
        auto nameLength = static_cast<DWORD>(deviceName.size());
        std::array<wchar_t, 64> portName{};
        auto portSize = static_cast<DWORD>(sizeof portName - sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS result =
            ::RegEnumValueW(key.get(), index, deviceName.data(), &nameLength, nullptr, &type,
                            reinterpret_cast<BYTE*>(portName.data()), &portSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            return;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;  // a name or value too long for a COM port
        }
        const auto comNumber =
            ComNumberForTty(NarrowDeviceText(std::wstring_view(portName.data())));
        if (!comNumber || std::any_of(ports.begin(), ports.end(), [&](const FoundPort& port) {
                return port.comNumber == *comNumber;
            })) {
            continue;
        }
        const std::string comName = "COM" + std::to_string(*comNumber);
        const std::string driverName = windows_text::Utf8(std::wstring_view(deviceName.data()));
        FoundPort port{*comNumber, {}};
        DiscoveredDevice& record = port.record;
        record.portName = comName;
        record.description = "Communications Port";
        record.friendlyName = record.description + " (" + comName + ")";
        record.devicePath = "\\\\?\\serial#" +
                            DevicePathField(driverName.substr(driverName.rfind('\\') + 1)) +
                            "#0#\\\\.\\" + comName;
        ports.push_back(std::move(port));
    }
}

}  // namespace

void AppendSystemSerialPorts(std::vector<DiscoveredDevice>& list) {
    const HDEVINFO opened = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (opened == INVALID_HANDLE_VALUE) {
        throw Failure("SetupDiGetClassDevs", ::GetLastError());
    }
    const DeviceSet set(opened);

    std::vector<FoundPort> ports;
    // The ports found so far go to the list in COM-number order, also when
    // the enumeration fails part way.
    const auto appendFound = [&] {
        std::stable_sort(ports.begin(), ports.end(), [](const FoundPort& a, const FoundPort& b) {
            return a.comNumber < b.comNumber;
        });
        for (FoundPort& port : ports) {
            list.push_back(std::move(port.record));
        }
    };
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(set.get(), index, &device)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) {
                AddMappedPorts(ports);
                appendFound();
                return;
            }
            appendFound();
            throw Failure("SetupDiEnumDeviceInfo", error);
        }
        if (auto port = DescribePort(set.get(), device)) {
            ports.push_back(std::move(*port));
        }
    }
}

}  // namespace velmorin
