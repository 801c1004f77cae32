// SPDX-License-Identifier: MIT
// Unplugging and replugging a USB gadget through its configfs UDC file.
#include "usb_gadget.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "sim_support.h"

namespace velmorin::sim {

std::optional<UsbGadget> UsbGadget::Find(const std::filesystem::path& directory,
                                         const std::string& who) {
    const std::filesystem::path udcFile = directory / "UDC";
    const Descriptor file(::open(udcFile.c_str(), O_RDONLY | O_CLOEXEC));
    char text[256] = {};
    const ssize_t count = file.Get() >= 0 ? ::read(file.Get(), text, sizeof text - 1) : -1;
    if (count < 0) {
        std::cerr << who << ": cannot read " << udcFile << ": " << std::strerror(errno)
                  << " (--gadget names the gadget's configfs directory, e.g. "
                     "/sys/kernel/config/usb_gadget/NAME)\n";
        return std::nullopt;
    }
    std::string controller(text, static_cast<std::size_t>(count));
    while (!controller.empty() && (controller.back() == '\n' || controller.back() == ' ')) {
        controller.pop_back();
    }
    if (controller.empty()) {
        std::cerr << who << ": the gadget in " << directory
                  << " is not bound to a controller (its UDC file is empty): bind it first\n";
        return std::nullopt;
    }
    return UsbGadget(udcFile, std::move(controller), who);
}

bool UsbGadget::Unplug() const {
    return WriteUdc("\n", "unplug");
}

bool UsbGadget::Plug() const {
    return WriteUdc(m_controller + "\n", "replug");
}

bool UsbGadget::WriteUdc(const std::string& text, const char* what) const {
    // One write of the whole text, as `echo TEXT > UDC` makes it: configfs
    // takes each write as the whole new value.
    const Descriptor file(::open(m_udcFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    const ssize_t written =
        file.Get() >= 0 ? ::write(file.Get(), text.data(), text.size()) : ssize_t{-1};
    if (written != static_cast<ssize_t>(text.size())) {
        std::cerr << m_who << ": cannot " << what << " the gadget: writing to " << m_udcFile << ": "
                  << (written < 0 ? std::strerror(errno) : "short write") << '\n';
        return false;
    }
    std::cerr << m_who << ": " << (text == "\n" ? "unplugged" : "replugged") << " the gadget ("
              << m_udcFile << (text == "\n" ? " emptied)\n" : " set to " + m_controller + ")\n");
    return true;
}

}  // namespace velmorin::sim
