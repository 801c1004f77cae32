// SPDX-License-Identifier: MIT
// Posted work for a window's thread.
#include "gui-win32/window_view_thread.h"

#include <utility>

namespace velmorin::win32 {

void WindowViewThread::Attach(HWND window) {
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_window = window;
        wake = !m_works.empty() && !m_wakePosted;
        m_wakePosted = m_wakePosted || wake;
    }
    if (wake) {
        ::PostMessageW(window, kRunPostedWork, 0, 0);
    }
}

void WindowViewThread::Post(std::function<void()> work) {
    HWND wakeWindow = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        m_works.push_back(std::move(work));
        if (m_window != nullptr && !m_wakePosted) {
            m_wakePosted = true;
            wakeWindow = m_window;
        }
    }
    if (wakeWindow != nullptr) {
        ::PostMessageW(wakeWindow, kRunPostedWork, 0, 0);
    }
}

void WindowViewThread::RunPosted() {
    {
        // From here on a new work posts a new wake-up: one that arrives while
        // this loop still runs finds the queue empty, which does no harm.
        const std::lock_guard lock(m_mutex);
        m_wakePosted = false;
    }
    for (;;) {
        std::function<void()> work;
        {
            const std::lock_guard lock(m_mutex);
            if (m_works.empty()) {
                return;
            }
            work = std::move(m_works.front());
            m_works.pop_front();
        }
        // A work may open a message box, whose loop runs later works first
        // (from a new wake-up): each is taken from the queue before it runs,
        // so none runs twice and the order of taking stays the posting order.
        work();
    }
}

}  // namespace velmorin::win32
