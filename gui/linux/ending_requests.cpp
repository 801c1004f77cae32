// SPDX-License-Identifier: MIT
// The Qt program's ending requests on Linux: SIGINT (Ctrl-C in the terminal
// it was started from), SIGTERM (kill, the session's logout) and SIGHUP (a
// closed terminal), through a non-blocking pipe watched by the window's
// thread.
#include "gui/ending_requests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <string>

namespace velmorin {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's writing end while an EndingRequests object lives; -1 otherwise.
volatile std::sig_atomic_t requestPipeWrite = -1;

// All a signal handler may do: one write to a non-blocking pipe.
void OnEndingSignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(requestPipeWrite, &number, 1);
    errno = saved;
}

sigset_t EndingSignalSet() {
    sigset_t ending;
    ::sigemptyset(&ending);
    for (const int signal : kEndingSignals) {
        ::sigaddset(&ending, signal);
    }
    return ending;
}

}  // namespace

struct EndingRequests::Previous {
    int pipe[2] = {-1, -1};
    struct sigaction actions[std::size(kEndingSignals)]{};
    bool caught = false;
};

EndingRequests::EndingRequests() : m_previous(std::make_unique<Previous>()) {
    if (::pipe2(m_previous->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    requestPipeWrite = m_previous->pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_previous->pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { OnRequest(); });
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    // The program's other waits go on as if nothing had come.
    action.sa_flags = SA_RESTART;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &action, &m_previous->actions[i]);
    }
    m_previous->caught = true;
}

EndingRequests::~EndingRequests() {
    if (m_previous->caught) {
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &m_previous->actions[i], nullptr);
        }
    }
    m_notifier.reset();
    requestPipeWrite = -1;
    for (const int end : m_previous->pipe) {
        if (end >= 0) {
            ::close(end);
        }
    }
}

void EndingRequests::OnRequest() {
    unsigned char number = 0;
    if (::read(m_previous->pipe[0], &number, 1) != 1) {
        return;
    }
    ClosedRuns closed;
    if (m_closer) {
        // Waits for an outcome line being written at this moment, never for
        // a run itself.
        closed = m_closer();
    }
    if (closed.runs > 0) {
        const std::string text = "velmorin: ended by request; " + std::to_string(closed.runs) +
                                 (closed.runs == 1 ? " run" : " runs") +
                                 " under way recorded as interrupted.\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    }
    ::_exit(128 + number);
}

struct EndingRequestsKeptFromNewThreads::Previous {
    sigset_t mask;
};

EndingRequestsKeptFromNewThreads::EndingRequestsKeptFromNewThreads()
    : m_previous(std::make_unique<Previous>()) {
    const sigset_t ending = EndingSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &ending, &m_previous->mask);
}

EndingRequestsKeptFromNewThreads::~EndingRequestsKeptFromNewThreads() {
    ::pthread_sigmask(SIG_SETMASK, &m_previous->mask, nullptr);
}

}  // namespace velmorin
