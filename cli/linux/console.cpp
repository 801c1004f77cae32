// SPDX-License-Identifier: MIT
// The terminal and the ending signals on Linux: SIGINT (Ctrl-C), SIGTERM
// (kill) and SIGHUP (a closed terminal).
#include "console.h"

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>

namespace velmorin::cli {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The function EndAtOnceOnInterrupt was given, and the pipe through which
// the signal handler hands a request to the thread that runs it.
std::atomic<void (*)()> interruptFunction{nullptr};
int interruptPipe[2] = {-1, -1};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

// All a signal handler may do: one write to a non-blocking pipe.
void OnInterrupt(int signal) {
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &number, 1);
}

sigset_t EndingSignalSet() {
    sigset_t ending;
    ::sigemptyset(&ending);
    for (const int signal : kEndingSignals) {
        ::sigaddset(&ending, signal);
    }
    return ending;
}

// The thread on which a request to end runs the function: a thread like
// any other, so the function may wait for a run that is writing its record
// at that moment. It is the only one that takes the ending signals: the
// calling thread and every thread it starts from then on have them blocked,
// so that no wait of an upgrade is ever cut short by one.
void StartInterruptThread() {
    if (::pipe2(interruptPipe, O_CLOEXEC) != 0) {
        return;
    }
    ::fcntl(interruptPipe[1], F_SETFL, O_NONBLOCK);
    const sigset_t ending = EndingSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    std::thread([ending] {
        ::pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
        for (;;) {
            unsigned char number = 0;
            const ssize_t count = ::read(interruptPipe[0], &number, 1);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count != 1) {
                return;
            }
            if (void (*function)() = interruptFunction.load()) {
                function();
            }
        }
    }).detach();
}

// The signal that asked the program to end while an EndingRequests object
// lived, 0 while none did.
volatile std::sig_atomic_t endingSignal = 0;

void OnEndingSignal(int signal) {
    endingSignal = signal;
}

}  // namespace

// hidapi turns the chargers' USB strings (UTF-8 in sysfs) into wide text
// with the locale's character type; in the C locale, which a program has
// until it sets one, every non-ASCII string turns out empty. The character
// type comes from the environment when that names a UTF-8 locale, else it
// is C.UTF-8: the program's own texts are UTF-8 whatever the locale. Only
// the character type changes: numbers print as they do in the C locale.
void SetUpTextEncoding() {
    const char* chosen = std::setlocale(LC_CTYPE, "");
    if (chosen != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        return;
    }
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        std::setlocale(LC_CTYPE, "C");
    }
}

std::vector<std::string> ArgumentsAsText(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

void IgnoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

void EndAtOnceOnInterrupt(void (*onInterrupt)()) {
    interruptFunction = onInterrupt;
    static std::once_flag started;
    std::call_once(started, StartInterruptThread);
    for (const int signal : kEndingSignals) {
        std::signal(signal, OnInterrupt);
    }
}

void WriteErrorNow(std::string_view text) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
}

void ExitNow(int status) {
    ::_exit(status);
}

struct EndingRequests::Previous {
    struct sigaction actions[std::size(kEndingSignals)]{};
};

struct EndingRequestsKeptFromNewThreads::Previous {
    sigset_t mask;
};

void WriteStdoutBytes(std::string_view bytes) {
    std::cout.flush();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

EndingRequestsKeptFromNewThreads::EndingRequestsKeptFromNewThreads()
    : m_previous(std::make_unique<Previous>()) {
    const sigset_t ending = EndingSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &ending, &m_previous->mask);
}

// A request that came meanwhile is delivered here, once unblocked.
EndingRequestsKeptFromNewThreads::~EndingRequestsKeptFromNewThreads() {
    ::pthread_sigmask(SIG_SETMASK, &m_previous->mask, nullptr);
}

EndingRequests::EndingRequests() : m_previous(std::make_unique<Previous>()) {
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &action, &m_previous->actions[i]);
    }
}

EndingRequests::~EndingRequests() {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &m_previous->actions[i], nullptr);
    }
}

bool EndingRequests::Received() {
    return endingSignal != 0;
}

// Ends the program by the signal it received, so that its parent sees it
// ended by that signal.
void EndingRequests::EndByRequest() {
    const int signal = endingSignal;
    std::cout.flush();
    std::cerr << "Interrupted.\n";
    std::cerr.flush();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace velmorin::cli
