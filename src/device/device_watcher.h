// SPDX-License-Identifier: MIT
// Device-change watching: serial and HID nodes coming and going, and changes
// in the virtual device directory, as one "devices changed" signal behind a
// file descriptor that an event loop can wait on.
#pragma once

#include <memory>

namespace velmorin {

class DeviceWatcher {
public:
    // Starts watching. Sources that cannot be watched (no udev, no virtual
    // device directory) are left out; the rest still work.
    DeviceWatcher();
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Readable while changes are pending.
    int Fd() const;
    // Reads every pending event; true when at least one was a device change.
    // Never blocks.
    bool ConsumeChanges();
    // Waits up to `timeoutMs` for a change and consumes it; true when one came.
    bool WaitForChange(int timeoutMs);

private:
    struct Sources;
    std::unique_ptr<Sources> m_sources;
};

}  // namespace velmorin
