// SPDX-License-Identifier: MIT
// A charger held for one upgrade run. A HID charger drops off the bus and
// comes back under another node while it restarts into its bootloader, so
// the lock is taken on the charger's identity (its USB product and serial
// number), not on a node, and lasts for the whole run; a second run on the
// same charger, from any program of this tool, is refused.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace velmorin {

// The name of a charger's lock: "velmorin-charger-" and a hash of the
// identity in hex digits (the identity may hold any bytes; the name, a file
// on Linux and a system object on Windows, only these).
std::string ChargerLockName(std::string_view identity);

class ChargerLock {
public:
    // Takes the lock of the charger that `identity` names. nullptr when
    // another run holds it; `holder` then names that run ("PID (command)",
    // or "another process" when it cannot be read) and `lockPath` is the
    // file the holder has open.
    static std::unique_ptr<ChargerLock> Acquire(std::string_view identity, std::string& holder,
                                                std::string& lockPath);
    ~ChargerLock();
    ChargerLock(const ChargerLock&) = delete;
    ChargerLock& operator=(const ChargerLock&) = delete;

private:
    // The platform's hold on the lock.
    struct Native;
    explicit ChargerLock(std::unique_ptr<Native> native);
    std::unique_ptr<Native> m_native;
};

}  // namespace velmorin
