// SPDX-License-Identifier: MIT
// The system's HID interfaces on Windows: SetupAPI's list of present
// interfaces of the HID class, in its order, and 65-byte reports with report
// ID 0 through overlapped reads and writes on the HID class driver's handle.
#include <windows.h>
// SetupAPI and the HID class driver's headers need the types above; the
// latter declares its calls without C linkage of its own.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

#include "device/device_text.h"
#include "device/hid_interface.h"
#include "device/windows/wide_text.h"

namespace velmorin {
namespace {

// A report the charger does not take within this time counts as not sent,
// as the USB HID driver on Linux gives up on an output report.
constexpr DWORD kWriteTimeoutMs = 5000;

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() {
        if (Valid()) {
            ::CloseHandle(m_handle);
        }
    }
    Handle(Handle&& other) noexcept : m_handle(other.m_handle) {
        other.m_handle = INVALID_HANDLE_VALUE;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&&) = delete;

    // Files give INVALID_HANDLE_VALUE on failure, events a null handle.
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : m_set(set) {}
    ~DeviceInfoSet() {
        if (Valid()) {
            ::SetupDiDestroyDeviceInfoList(m_set);
        }
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool Valid() const { return m_set != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return m_set; }

private:
    HDEVINFO m_set;
};

// The device path of one member of the interface set; nothing when SetupAPI
// cannot tell it.
std::optional<std::wstring> InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) {
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return std::nullopt;
    }
    // DWORDs keep the record aligned as SetupAPI expects.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, nullptr)) {
        return std::nullopt;
    }
    return std::wstring(detail->DevicePath);
}

// One device text, 128 characters at most (a 256-byte buffer, as the HID
// class driver fills it); empty when it cannot be read.
template <typename Getter>
std::string ReadDeviceText(HANDLE device, Getter getter) {
    std::array<wchar_t, kMaxDeviceTextLength> buffer{};
    if (!getter(device, buffer.data(), static_cast<ULONG>(sizeof buffer))) {
        return {};
    }
    return NarrowDeviceText(std::wstring_view(buffer.data(), buffer.size()));
}

// Vendor and product IDs and texts of one interface. Access 0 is enough for
// them and is granted even for interfaces that the system keeps to itself
// (keyboards, mice), which stay in the list with what could be read so that
// every index still names the same interface as the enumeration does.
void ReadIdentity(const std::wstring& path, HidInterfaceInfo& info) {
    const Handle device(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device.Valid()) {
        return;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (::HidD_GetAttributes(device.Get(), &attributes)) {
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
    }
    info.product = ReadDeviceText(device.Get(), ::HidD_GetProductString);
    info.serialNumber = ReadDeviceText(device.Get(), ::HidD_GetSerialNumberString);
}

// errno for an interface that did not open, as the Linux backend reports a
// hidraw node: gone, not permitted, held, or another failure.
int OpenErrno(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        return ENODEV;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    default:
        return EIO;
    }
}

// The report lengths the interface declares, report ID included; a charger
// declares 65 both ways. A longer output report is padded with zeros, and a
// longer input report is read whole and cut to 65 bytes, as the HID class
// driver takes and gives whole reports only.
std::pair<std::size_t, std::size_t> ReportLengths(HANDLE device) {
    std::size_t input = kHidReportSize;
    std::size_t output = kHidReportSize;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (::HidD_GetPreparsedData(device, &preparsed)) {
        HIDP_CAPS caps{};
        if (::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
            input = std::max<std::size_t>(input, caps.InputReportByteLength);
            output = std::max<std::size_t>(output, caps.OutputReportByteLength);
        }
        ::HidD_FreePreparsedData(preparsed);
    }
    return {input, output};
}

class HidClassInterface : public HidInterface {
public:
    HidClassInterface(Handle device, Handle readEvent, Handle writeEvent)
        : m_device(std::move(device)),
          m_readEvent(std::move(readEvent)),
          m_writeEvent(std::move(writeEvent)) {
        const auto [input, output] = ReportLengths(m_device.Get());
        m_input.resize(input);
        m_output.resize(output);
    }

    bool WriteReport(const HidReport& report) override {
        std::fill(m_output.begin(), m_output.end(), std::uint8_t{0});
        std::copy(report.begin(), report.end(), m_output.begin());
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_writeEvent.Get();
        if (!::WriteFile(m_device.Get(), m_output.data(), static_cast<DWORD>(m_output.size()),
                         nullptr, &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        if (::WaitForSingleObject(m_writeEvent.Get(), kWriteTimeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(m_device.Get(), &overlapped);
        }
        // Waits for the write (or its cancellation) to end: the buffer and
        // the OVERLAPPED stay in use until then.
        DWORD sent = 0;
        return ::GetOverlappedResult(m_device.Get(), &overlapped, &sent, TRUE) &&
               sent == m_output.size();
    }

    ReadOutcome ReadReport(HidReport& report, std::uint32_t timeoutMs) override {
        report.fill(0);
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_readEvent.Get();
        if (!::ReadFile(m_device.Get(), m_input.data(), static_cast<DWORD>(m_input.size()), nullptr,
                        &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return ReadOutcome::DeviceLost;  // unplugged: the handle fails at once
        }
        const DWORD timeout = std::min<std::uint32_t>(timeoutMs, INT_MAX);
        const bool timedOut = ::WaitForSingleObject(m_readEvent.Get(), timeout) != WAIT_OBJECT_0;
        if (timedOut) {
            ::CancelIoEx(m_device.Get(), &overlapped);
        }
        DWORD received = 0;
        if (!::GetOverlappedResult(m_device.Get(), &overlapped, &received, TRUE)) {
            // Our own cancellation is a time-out; a read that the driver
            // ends (ERROR_DEVICE_NOT_CONNECTED, or ERROR_OPERATION_ABORTED
            // when the interface is removed) is a lost charger.
            return timedOut && ::GetLastError() == ERROR_OPERATION_ABORTED
                       ? ReadOutcome::TimedOut
                       : ReadOutcome::DeviceLost;
        }
        if (received == 0) {
            return ReadOutcome::TimedOut;
        }
        // A report that arrived while the read was being cancelled is kept.
        std::copy_n(m_input.begin(), std::min<std::size_t>(received, report.size()),
                    report.begin());
        return ReadOutcome::Received;
    }

private:
    Handle m_device;
    Handle m_readEvent;
    Handle m_writeEvent;
    std::vector<std::uint8_t> m_input;
    std::vector<std::uint8_t> m_output;
};

}  // namespace

std::vector<HidInterfaceInfo> EnumerateSystemHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces;
    GUID hidClass{};
    ::HidD_GetHidGuid(&hidClass);
    const DeviceInfoSet set(
        ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.Valid()) {
        return interfaces;
    }
    // ERROR_NO_MORE_ITEMS past the last member is the normal end; an
    // interface whose path cannot be read ends the list too, since the ones
    // after it could no longer be counted with the same index.
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!::SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &hidClass, index, &interfaceData)) {
            break;
        }
        const std::optional<std::wstring> path = InterfacePath(set.Get(), interfaceData);
        if (!path) {
            break;
        }
        HidInterfaceInfo info;
        info.path = windows_text::Utf8(*path);
        ReadIdentity(*path, info);
        interfaces.push_back(std::move(info));
    }
    return interfaces;
}

std::unique_ptr<HidInterface> OpenSystemHidInterface(const std::string& path) {
    // Shared, so that discovery may look at a charger that an upgrade holds.
    Handle device(::CreateFileW(windows_text::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    if (!device.Valid()) {
        errno = OpenErrno(::GetLastError());
        return nullptr;
    }
    Handle readEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle writeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readEvent.Valid() || !writeEvent.Valid()) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::make_unique<HidClassInterface>(std::move(device), std::move(readEvent),
                                               std::move(writeEvent));
}

}  // namespace velmorin
