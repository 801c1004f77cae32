// SPDX-License-Identifier: MIT
// What the program needs of the terminal (the console on Windows) it runs
// in and of the requests to end it, one file per platform behind this: the
// text encoding, whether an output is a terminal, and Ctrl-C and its kin
// (SIGINT, SIGTERM and SIGHUP on Linux; Ctrl-C, Ctrl-Break and a closed
// console window on Windows).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin::cli {

// Sets up how text goes out: the program's own texts, and the chargers'
// and catalogue's once converted, are UTF-8 (the character type on Linux,
// the console's code page on Windows). Call it first in main.
void SetUpTextEncoding();

// The program's arguments, the program's name first, as the texts the core
// takes for file names and the rest: the bytes as they came on Linux; UTF-8
// on Windows, read from the wide command line, since `argv` holds them in
// the ANSI code page, where a name outside it is lost.
std::vector<std::string> ArgumentsAsText(int argc, char** argv);

// Writes `bytes` to standard output as they are (on Windows, with no CR
// added before each LF), after what the program's streams hold.
void WriteStdoutBytes(std::string_view bytes);

// True when standard output (standard error) is a terminal, not a file or
// a pipe.
bool StdoutIsTerminal();
bool StderrIsTerminal();

// A write to a closed output (`| head`) fails and the program goes on,
// rather than the program ending there.
void IgnoreClosedOutput();

// From now on a request to end the program runs `onInterrupt`: it must end
// the program with ExitNow. It runs on a thread of its own while the
// program's threads go on, so it may wait for a lock that a run holds for a
// moment (its record being written). On Linux the calling thread, and every
// thread it starts from then on, no longer take the ending signals.
void EndAtOnceOnInterrupt(void (*onInterrupt)());

// Writes `text` to standard error past the C library's buffers, in one
// write.
void WriteErrorNow(std::string_view text);

// Ends the program at once with `status`, without the C library's exit
// handlers; open devices are closed by the system.
[[noreturn]] void ExitNow(int status);

// While an object lives, a request to end the program is only noted, so
// that the work under way ends early and removes its temporary files; the
// handling that was there before comes back with the object's end.
class EndingRequests {
public:
    EndingRequests();
    ~EndingRequests();
    EndingRequests(const EndingRequests&) = delete;
    EndingRequests& operator=(const EndingRequests&) = delete;

    // True once a request has come.
    static bool Received();

    // Says "Interrupted." on standard error and ends the program as the
    // request would have ended it without this object (the caller has
    // cleaned up by now). Only after Received().
    [[noreturn]] static void EndByRequest();

private:
    // The handling to put back.
    struct Previous;
    std::unique_ptr<Previous> m_previous;
};

// While an object lives, the ending requests are not delivered to the
// calling thread, nor to the threads it starts, which keep that for their
// lives: the upgrades' own threads then never see a request interrupt one
// of their waits, and the program's main thread handles every request.
// Nothing on Windows, where a request arrives on a thread of its own.
class EndingRequestsKeptFromNewThreads {
public:
    EndingRequestsKeptFromNewThreads();
    ~EndingRequestsKeptFromNewThreads();
    EndingRequestsKeptFromNewThreads(const EndingRequestsKeptFromNewThreads&) = delete;
    EndingRequestsKeptFromNewThreads& operator=(const EndingRequestsKeptFromNewThreads&) = delete;

private:
    struct Previous;
    std::unique_ptr<Previous> m_previous;
};

}  // namespace velmorin::cli
