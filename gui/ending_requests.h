// SPDX-License-Identifier: MIT
// Requests to end the Qt program (SIGTERM, SIGINT and SIGHUP): the runs
// under way get their interrupted lines in the history and the program ends
// at once, without waiting for the runs' threads, which may be blocked on a
// charger. The signal handler only writes the signal's number to a pipe;
// the window's thread reads it through its event loop and does the rest.
#pragma once

#include <functional>
#include <memory>

#include "session/run_journal.h"

class QSocketNotifier;

namespace velmorin {

class EndingRequests {
public:
    // Catches the requests from now on; they are acted on by the event loop
    // of the calling thread. One at a time in a program; needs the
    // application object. When the pipe cannot be made, the requests keep
    // their usual handling (the program simply ends).
    EndingRequests();
    // The usual handling comes back.
    ~EndingRequests();
    EndingRequests(const EndingRequests&) = delete;
    EndingRequests& operator=(const EndingRequests&) = delete;

    // What records the runs under way as interrupted on a request; none:
    // nothing is under way. Then the program ends with 128 + the signal's
    // number.
    void SetRunCloser(std::function<ClosedRuns()> closer) { m_closer = std::move(closer); }

private:
    void OnRequest();

    std::function<ClosedRuns()> m_closer;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct Previous;
    std::unique_ptr<Previous> m_previous;
};

// While an object lives, the threads that the calling thread starts never
// take an ending request (for their whole lives), so that no wait of a run
// is cut short by one: the window's thread takes it instead.
class EndingRequestsKeptFromNewThreads {
public:
    EndingRequestsKeptFromNewThreads();
    // A request that came meanwhile is delivered here.
    ~EndingRequestsKeptFromNewThreads();
    EndingRequestsKeptFromNewThreads(const EndingRequestsKeptFromNewThreads&) = delete;
    EndingRequestsKeptFromNewThreads& operator=(const EndingRequestsKeptFromNewThreads&) = delete;

private:
    struct Previous;
    std::unique_ptr<Previous> m_previous;
};

}  // namespace velmorin
