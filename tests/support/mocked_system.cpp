// SPDX-License-Identifier: MIT
// Building mocked devices on umockdev's test bed.
#include "support/mocked_system.h"

#include <glib-object.h>
#include <umockdev.h>

#include <cstdio>

namespace velmorin::testing {

MockedSystem::MockedSystem() : m_testbed(umockdev_testbed_new()) {}

MockedSystem::~MockedSystem() {
    g_object_unref(m_testbed);
}

std::string MockedSystem::AddUsbDevice(const Usb& usb, const std::string& idPath) {
    // Names sort in the order they are added (1-1 ... 1-9, then 1-a...), so
    // that enumeration order is the order of the calls.
    const int number = ++m_usbDevices;
    char name[32];
    std::snprintf(name, sizeof name, "1-%c%c", 'a' + (number / 26) % 26, 'a' + number % 26);
    std::vector<std::string> attributes = {"idVendor", usb.vendorId, "idProduct", usb.productId};
    if (usb.product) {
        attributes.insert(attributes.end(), {"product", *usb.product});
    }
    if (usb.serial) {
        attributes.insert(attributes.end(), {"serial", *usb.serial});
    }
    const std::string device = Add("usb", name, "", attributes, {"DEVTYPE", "usb_device"});
    std::vector<std::string> interfaceProperties = {"DEVTYPE", "usb_interface"};
    if (!idPath.empty()) {
        interfaceProperties.insert(interfaceProperties.end(), {"ID_PATH", idPath});
    }
    return Add("usb", std::string(name) + ":1.0", device, {"bInterfaceNumber", "00"},
               interfaceProperties);
}

void MockedSystem::AddUsbSerial(const std::string& tty, const Usb& usb, const std::string& model,
                                const std::string& idPath) {
    const std::string interface = AddUsbDevice(usb);
    std::vector<std::string> properties = {"DEVNAME", "/dev/" + tty};
    if (!idPath.empty()) {
        properties.insert(properties.end(), {"ID_PATH", idPath});
    }
    if (!model.empty()) {
        properties.insert(properties.end(), {"ID_MODEL", model});
    }
    Add("tty", tty, interface, {}, properties);
}

std::string MockedSystem::AddHid(const Usb& usb, const std::string& idPath) {
    const std::string interface = AddUsbDevice(usb, idPath);
    const int index = m_hidNodes++;
    char hidName[64];
    std::snprintf(hidName, sizeof hidName, "0003:%s:%s.%04X", usb.vendorId.c_str(),
                  usb.productId.c_str(), index + 1);
    const std::string hid =
        Add("hid", hidName, interface, {},
            {"HID_ID", "0003:0000" + usb.vendorId + ":0000" + usb.productId, "HID_NAME",
             usb.product.value_or(""), "HID_UNIQ", usb.serial.value_or("")});
    const std::string raw = "hidraw" + std::to_string(index);
    return Add("hidraw", raw, hid, {}, {"DEVNAME", "/dev/" + raw});
}

void MockedSystem::Uevent(const std::string& syspath, const char* action) {
    umockdev_testbed_uevent(m_testbed, syspath.c_str(), action);
}

void MockedSystem::AddConsole(const std::string& tty) {
    Add("tty", tty, "", {}, {"DEVNAME", "/dev/" + tty});
}

void MockedSystem::AddNativeSerial(const std::string& tty, const std::string& uartType) {
    Add("tty", tty, "", {"type", uartType}, {"DEVNAME", "/dev/" + tty});
}

std::string MockedSystem::Add(const std::string& subsystem, const std::string& name,
                              const std::string& parent, const std::vector<std::string>& attributes,
                              const std::vector<std::string>& properties) {
    std::vector<gchar*> attributeList;
    for (const auto& text : attributes) {
        attributeList.push_back(const_cast<gchar*>(text.c_str()));
    }
    attributeList.push_back(nullptr);
    std::vector<gchar*> propertyList;
    for (const auto& text : properties) {
        propertyList.push_back(const_cast<gchar*>(text.c_str()));
    }
    propertyList.push_back(nullptr);
    gchar* path = umockdev_testbed_add_devicev(m_testbed, subsystem.c_str(), name.c_str(),
                                               parent.empty() ? nullptr : parent.c_str(),
                                               attributeList.data(), propertyList.data());
    const std::string syspath = path != nullptr ? path : "";
    g_free(path);
    return syspath;
}

}  // namespace velmorin::testing
