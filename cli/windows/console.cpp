// SPDX-License-Identifier: MIT
// The console and its control events on Windows: Ctrl-C, Ctrl-Break and a
// closed console window (or the session ending) stand where Linux has
// SIGINT, SIGTERM and SIGHUP. The system runs a control handler on a
// thread of its own while the program's threads go on.
#include "console.h"

#include <windows.h>

#include "device/windows/wide_text.h"
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace velmorin::cli {
namespace {

// The function EndAtOnceOnInterrupt was given.
void (*interruptFunction)() = nullptr;

bool IsEndingEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return true;
    default:
        return false;
    }
}

BOOL WINAPI OnInterrupt(DWORD event) {
    if (!IsEndingEvent(event)) {
        return FALSE;
    }
    interruptFunction();  // ends the program
    return TRUE;
}

// Set once an ending request came while an EndingRequests object lived.
std::atomic<bool> endingRequested{false};

BOOL WINAPI OnEndingRequest(DWORD event) {
    if (!IsEndingEvent(event)) {
        return FALSE;
    }
    endingRequested = true;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // The system ends the program as soon as this returns (and a few
        // seconds later in any case): the program's own thread cleans up
        // and ends it first, the transfers seeing the request within a
        // tenth of a second.
        ::Sleep(INFINITE);
    }
    return TRUE;
}

bool IsConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(standardHandle), &mode) != 0;
}

UINT previousCodePage = 0;

void RestoreCodePage() {
    ::SetConsoleOutputCP(previousCodePage);
}

}  // namespace

// The console shows the program's UTF-8 texts as they are; the code page it
// had comes back when the program ends by returning from main.
void SetUpTextEncoding() {
    previousCodePage = ::GetConsoleOutputCP();
    if (previousCodePage != 0 && previousCodePage != CP_UTF8 &&
        ::SetConsoleOutputCP(CP_UTF8) != 0) {
        std::atexit(RestoreCodePage);
    }
    // The live lines of several upgrades move the cursor with escape
    // sequences, which a console carries out only when asked to.
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(which);
        DWORD mode = 0;
        if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0) {
            ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
    }
}

void WriteStdoutBytes(std::string_view bytes) {
    std::fflush(stdout);
    const int previous = ::_setmode(::_fileno(stdout), _O_BINARY);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
    if (previous != -1) {
        ::_setmode(::_fileno(stdout), previous);
    }
}

std::vector<std::string> ArgumentsAsText(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);  // as the C runtime read them
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(windows_text::Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

// A console, not a file, a pipe or NUL (which the C library would take for
// a terminal, being a character device).
bool StdoutIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool StderrIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

// A write to a closed pipe fails with EPIPE on Windows and ends nothing.
void IgnoreClosedOutput() {}

void EndAtOnceOnInterrupt(void (*onInterrupt)()) {
    interruptFunction = onInterrupt;
    ::SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

void WriteErrorNow(std::string_view text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                &written, nullptr);
}

// As _exit on Linux: no exit handlers, no waiting for the other threads,
// which may be inside a device call.
void ExitNow(int status) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);
}

struct EndingRequests::Previous {};

struct EndingRequestsKeptFromNewThreads::Previous {};

EndingRequestsKeptFromNewThreads::EndingRequestsKeptFromNewThreads() = default;
EndingRequestsKeptFromNewThreads::~EndingRequestsKeptFromNewThreads() = default;

EndingRequests::EndingRequests() : m_previous(std::make_unique<Previous>()) {
    ::SetConsoleCtrlHandler(OnEndingRequest, TRUE);
}

EndingRequests::~EndingRequests() {
    ::SetConsoleCtrlHandler(OnEndingRequest, FALSE);
}

bool EndingRequests::Received() {
    return endingRequested;
}

// Ends the program with the status the console's own handling gives a
// program that Ctrl-C ended.
void EndingRequests::EndByRequest() {
    std::cout.flush();
    std::cerr << "Interrupted.\n";
    std::cerr.flush();
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace velmorin::cli
