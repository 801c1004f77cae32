// SPDX-License-Identifier: MIT
// Work from other threads run by a window's thread: queued here in order and
// run when the window receives kRunPostedWork, which Post() sends whenever
// the queue was empty. One posted message wakes the window for any number of
// works, so a worker that reports faster than the window paints never fills
// the thread's message queue. The window's procedure calls RunPosted() for
// that message; nested loops (a message box) run the works too.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "session/upgrade_runner.h"

namespace velmorin::win32 {

class WindowViewThread : public ViewThread {
public:
    static constexpr UINT kRunPostedWork = WM_APP + 0x20;

    // Works posted before a window is attached wait for it.
    void Attach(HWND window);
    void Post(std::function<void()> work) override;
    // Runs the works queued so far, oldest first; on the window's thread.
    void RunPosted();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_works;
    HWND m_window = nullptr;
    bool m_wakePosted = false;
};

}  // namespace velmorin::win32
