// SPDX-License-Identifier: MIT
// A USB gadget's configfs directory, as the simulated chargers unplug and
// replug it: an empty line written to its UDC file unbinds the gadget (the
// host sees the device go), the controller's name written back binds it
// again (the host enumerates it afresh).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmorin::sim {

class UsbGadget {
public:
    // The gadget in `directory`, bound now to the controller whose name its
    // UDC file holds; nothing, with a message on standard error saying why,
    // when the file cannot be read or names no controller. `who` begins the
    // messages ("velmorin-sim serial").
    static std::optional<UsbGadget> Find(const std::filesystem::path& directory,
                                         const std::string& who);

    const std::string& ControllerName() const { return m_controller; }

    // Unbinds the gadget, or binds it again to the controller found at the
    // start; false, with a message on standard error, when the kernel
    // refuses (the write to the UDC file fails).
    bool Unplug() const;
    bool Plug() const;

private:
    UsbGadget(std::filesystem::path udcFile, std::string controller, std::string who)
        : m_udcFile(std::move(udcFile)),
          m_controller(std::move(controller)),
          m_who(std::move(who)) {}
    bool WriteUdc(const std::string& text, const char* what) const;

    std::filesystem::path m_udcFile;
    std::string m_controller;
    std::string m_who;
};

}  // namespace velmorin::sim
