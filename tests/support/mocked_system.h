// SPDX-License-Identifier: MIT
// A mocked machine on umockdev's test bed: USB devices with their serial and
// HID interfaces, and native serial ports, seen by the real libudev and
// hidapi through umockdev's preload library (run under umockdev-wrapper).
#pragma once

#include <optional>
#include <string>
#include <vector>

using UMockdevTestbed = struct _UMockdevTestbed;

namespace velmorin::testing {

class MockedSystem {
public:
    MockedSystem();
    ~MockedSystem();
    MockedSystem(const MockedSystem&) = delete;
    MockedSystem& operator=(const MockedSystem&) = delete;

    struct Usb {
        std::string vendorId = "0403";
        std::string productId = "6001";
        std::optional<std::string> product;
        std::optional<std::string> serial;
    };

    // A USB device with one interface; returns the interface's sysfs path.
    // A non-empty `idPath` is udev's ID_PATH of the interface.
    std::string AddUsbDevice(const Usb& usb, const std::string& idPath = "");
    // A USB-serial adapter whose tty is `tty` (ttyUSB0, ttyACM0...), with
    // udev's ID_PATH on the tty when `idPath` is given.
    void AddUsbSerial(const std::string& tty, const Usb& usb, const std::string& model = "",
                      const std::string& idPath = "");
    // A USB HID device; returns its hidraw node's sysfs path. Its ID_PATH,
    // if any, is on the USB interface above the node, as udev gives a
    // hidraw node none of its own.
    std::string AddHid(const Usb& usb, const std::string& idPath = "");
    // A tty that is not a serial port (a virtual console).
    void AddConsole(const std::string& tty);
    // A native port; UART type "0" means no hardware behind it.
    void AddNativeSerial(const std::string& tty, const std::string& uartType);

    // Announces a device event ("add", "remove", "change") as udev would.
    void Uevent(const std::string& syspath, const char* action);

private:
    std::string Add(const std::string& subsystem, const std::string& name,
                    const std::string& parent, const std::vector<std::string>& attributes,
                    const std::vector<std::string>& properties);

    UMockdevTestbed* m_testbed;
    int m_usbDevices = 0;
    int m_hidNodes = 0;
};

}  // namespace velmorin::testing
