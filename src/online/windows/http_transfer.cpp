// SPDX-License-Identifier: MIT
// HTTP transfers with WinHTTP. The requests run asynchronously: WinHTTP's
// threads only queue what happened, and the calling thread makes every next
// call, asks `stop` and keeps the bounds between them. Redirects are
// followed here, one request each, so that every new address is checked as
// the first one was.
#include "online/http_transfer.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

#include "device/windows/wide_text.h"
#include "image/file_path.h"
#include "online/http_address.h"
#include "online/windows/win32_errors.h"

namespace velmorin {
namespace {

using Clock = std::chrono::steady_clock;

// How often the calling thread looks at `stop` and the bounds while it
// waits for WinHTTP.
constexpr std::chrono::milliseconds kTick{100};
// How much later than this transfer's own bounds WinHTTP's are.
constexpr std::chrono::milliseconds kSpareTime{1000};

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    // True when the handle closed cleanly (or there was none).
    bool Close() {
        const bool closed = !Valid() || ::CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_handle;
};

// The file a download replaces: the path itself, or for a symbolic link the
// file it leads to (the link stays a link to the new content).
struct Target {
    std::filesystem::path path;
    bool exists = false;
    DWORD attributes = 0;
    std::string problem;
};

// A final path as the system gives it ("\\?\C:\dir\file"), as a user
// would write it.
std::filesystem::path Plain(std::wstring path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return L"\\\\" + path.substr(8);
    }
    if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() > 5 && path[5] == L':') {
        return path.substr(4);
    }
    return path;
}

Target ResolveTarget(const std::filesystem::path& requested) {
    Target target;
    target.path = requested;
    const std::string shown = TextOfPath(requested);
    if (requested.empty()) {
        target.problem = "cannot save a download: no file name is given";
        return target;
    }
    // Opened for no access at all, only to see what the name leads to: a
    // link is followed, and NUL or CON show as the devices they are.
    const Handle file(::CreateFileW(requested.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD own = ::GetFileAttributesW(requested.c_str());  // the name itself
    const bool link = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            target.problem = "cannot save to " + shown + ": " + Win32ErrorText(error);
        } else if (link) {
            target.problem = "cannot save to " + shown + ": the link leads nowhere (" +
                             Win32ErrorText(error) + ")";
        }
        return target;  // a new name
    }
    const DWORD type = ::GetFileType(file.Get());
    BY_HANDLE_FILE_INFORMATION information{};
    const char* kind = nullptr;
    if (type == FILE_TYPE_CHAR) {
        kind = "a character device";
    } else if (type == FILE_TYPE_PIPE) {
        kind = "a FIFO";
    } else if (type != FILE_TYPE_DISK ||
               ::GetFileInformationByHandle(file.Get(), &information) == 0) {
        kind = "not a regular file";
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = "a directory";
    }
    if (kind != nullptr) {
        target.problem = "cannot save to " + shown + ": it is " + kind +
                         "; a download goes only to a regular file or a new name";
        return target;
    }
    if (link) {
        std::wstring resolved(MAX_PATH, L'\0');
        DWORD length = ::GetFinalPathNameByHandleW(file.Get(), resolved.data(),
                                                   static_cast<DWORD>(resolved.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length >= resolved.size()) {
            resolved.resize(length);
            length = ::GetFinalPathNameByHandleW(file.Get(), resolved.data(),
                                                 static_cast<DWORD>(resolved.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }
        if (length == 0 || length >= resolved.size()) {
            target.problem = "cannot save to " + shown + ": " + Win32ErrorText(::GetLastError());
            return target;
        }
        resolved.resize(length);
        target.path = Plain(resolved);
    }
    target.exists = true;
    target.attributes = information.dwFileAttributes;
    return target;
}

// What a replacing file takes over from the file it replaces at once; a
// read-only mark would keep the replacement from being written, so it
// follows after the move.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A file beside `path` that nobody else has: created exclusively, and not
// shared while it is written.
HANDLE CreateTemporary(const std::filesystem::path& path, DWORD attributes,
                       std::filesystem::path& temporary, DWORD& error) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = path;
        temporary += ".part-" + std::to_string(random());
        const HANDLE file =
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
        error = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE || error != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Keeps a refused body as "<path>.rejected", replacing only an earlier
// refused body (a plain file), never anything else of that name.
std::filesystem::path KeepRejected(const std::filesystem::path& temporary,
                                   const std::filesystem::path& path) {
    std::filesystem::path kept = path;
    kept += ".rejected";
    const DWORD attributes = ::GetFileAttributesW(kept.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return {};
    }
    return ::MoveFileExW(temporary.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING) != 0
               ? kept
               : std::filesystem::path();
}

// What WinHTTP reported of a request, queued for the calling thread.
struct Notice {
    DWORD status = 0;
    DWORD count = 0;     // bytes available or read
    DWORD error = 0;     // with a request error
    DWORD_PTR call = 0;  // the call that failed (API_...)
};

// Shared by the calling thread and WinHTTP's callbacks for one request: it
// lives until both are done with it, so a callback that comes after the
// transfer has ended (the handle's closing) still finds it.
struct Exchange {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Notice> notices;
    std::atomic<bool> connected{false};
    std::array<char, 64 * 1024> buffer{};  // the body's bytes as they are read
};

void CALLBACK OnRequestStatus(HINTERNET /*request*/, DWORD_PTR context, DWORD status, LPVOID info,
                              DWORD infoLength) {
    auto* holder = reinterpret_cast<std::shared_ptr<Exchange>*>(context);
    if (holder == nullptr) {
        return;
    }
    Exchange& exchange = **holder;
    Notice notice;
    notice.status = status;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
    case WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE:
        exchange.connected = true;
        return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        exchange.connected = true;
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        notice.count = *static_cast<const DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        notice.count = infoLength;
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        notice.error = result->dwError;
        notice.call = result->dwResult;
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        // The last word on this request: WinHTTP's share goes.
        delete holder;
        return;
    default:
        return;
    }
    {
        const std::lock_guard lock(exchange.mutex);
        exchange.notices.push_back(notice);
    }
    exchange.changed.notify_all();
}

class Session {
public:
    Session() {
        // The system's proxy settings where the system has them (Windows
        // 8.1 on), else WinHTTP's own.
        m_handle =
            ::WinHttpOpen(L"velmorin", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (m_handle == nullptr) {
            m_handle =
                ::WinHttpOpen(L"velmorin", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        }
    }
    ~Session() {
        if (m_handle != nullptr) {
            ::WinHttpCloseHandle(m_handle);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    HINTERNET Get() const { return m_handle; }

private:
    HINTERNET m_handle = nullptr;
};

// One GET on its own connection handle.
class Request {
public:
    Request() : m_exchange(std::make_shared<Exchange>()) {}
    ~Request() {
        if (m_request != nullptr) {
            ::WinHttpCloseHandle(m_request);  // ends whatever still runs
        }
        delete m_holder;  // WinHTTP never took it
        if (m_connection != nullptr) {
            ::WinHttpCloseHandle(m_connection);
        }
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Starts the request; false with the WinHTTP error when it cannot start.
    bool Start(HINTERNET session, const WebAddress& address, int connectTimeoutMs,
               int totalTimeoutMs, DWORD& error) {
        // The address was taken apart here already: WinHttpCrackUrl is
        // not trusted with IPv6 addresses (Wine's loses them).
        std::wstring host = windows_text::Wide(address.host);
        if (host.size() > 2 && host.front() == L'[') {
            host = host.substr(1, host.size() - 2);
        }
        const std::wstring path = windows_text::Wide(address.target);
        m_connection = ::WinHttpConnect(session, host.c_str(), address.port, 0);
        if (m_connection == nullptr) {
            error = ::GetLastError();
            return false;
        }
        m_request = ::WinHttpOpenRequest(m_connection, L"GET", path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         address.secure ? WINHTTP_FLAG_SECURE : 0);
        if (m_request == nullptr) {
            error = ::GetLastError();
            return false;
        }
        // Redirects come back here to be checked; no cookies or logins are
        // kept or offered.
        DWORD features =
            WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(m_holder);
        if (::WinHttpSetOption(m_request, WINHTTP_OPTION_DISABLE_FEATURE, &features,
                               sizeof features) == 0 ||
            ::WinHttpSetOption(m_request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ==
                0 ||
            ::WinHttpSetTimeouts(m_request, connectTimeoutMs, connectTimeoutMs, totalTimeoutMs,
                                 totalTimeoutMs) == 0 ||
            ::WinHttpSetStatusCallback(m_request, OnRequestStatus,
                                       WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                       0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            error = ::GetLastError();
            return false;
        }
        // From here on the holder is WinHTTP's, given back at the handle's
        // closing.
        m_holder = nullptr;
        if (::WinHttpSendRequest(m_request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                 WINHTTP_NO_REQUEST_DATA, 0, 0, context) == 0) {
            error = ::GetLastError();
            return false;
        }
        return true;
    }

    // The next notice, or nothing when none came within `wait`.
    std::optional<Notice> Next(std::chrono::milliseconds wait) {
        std::unique_lock lock(m_exchange->mutex);
        if (!m_exchange->changed.wait_for(lock, wait,
                                          [&] { return !m_exchange->notices.empty(); })) {
            return std::nullopt;
        }
        const Notice notice = m_exchange->notices.front();
        m_exchange->notices.pop_front();
        return notice;
    }

    HINTERNET Get() const { return m_request; }
    bool Connected() const { return m_exchange->connected; }
    char* Buffer() { return m_exchange->buffer.data(); }
    DWORD BufferSize() const { return static_cast<DWORD>(m_exchange->buffer.size()); }

    // A header's value; nothing when the answer has no such header.
    std::optional<std::wstring> Header(DWORD query) const {
        DWORD size = 0;
        ::WinHttpQueryHeaders(m_request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                              WINHTTP_NO_HEADER_INDEX);
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
            return std::nullopt;
        }
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (::WinHttpQueryHeaders(m_request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(),
                                  &size, WINHTTP_NO_HEADER_INDEX) == 0) {
            return std::nullopt;
        }
        value.resize(size / sizeof(wchar_t));
        return value;
    }

private:
    std::shared_ptr<Exchange> m_exchange;
    // WinHTTP's share of the exchange, handed over with the callback.
    std::shared_ptr<Exchange>* m_holder = new std::shared_ptr<Exchange>(m_exchange);
    HINTERNET m_connection = nullptr;
    HINTERNET m_request = nullptr;
};

// How one request ended.
struct Exchanged {
    enum class End { Complete, Redirect, Stopped, TimedOut, TooLarge, WriteFailed, Failed };
    End end = End::Failed;
    long httpStatus = 0;
    std::string location;  // with Redirect
    bool connected = false;
    std::uint32_t code = 0;  // with Failed: the transfer code
    DWORD winHttpError = 0;  // with Failed: WinHTTP's own error, when it is not one of ours
    DWORD writeError = 0;    // with WriteFailed
};

// The transfer code of a WinHTTP error, by what the request was doing.
std::uint32_t CodeOf(DWORD error, DWORD_PTR call, bool connected, bool lengthKnown, bool& known) {
    known = true;
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return kTransferHostNotResolved;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return kTransferCannotConnect;
    // Wine's WinHTTP passes some socket errors on as they are.
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return kTransferTimedOut;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return kTransferUnsupportedProtocol;
    case ERROR_WINHTTP_INVALID_URL:
        return kTransferMalformedAddress;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return kTransferOutOfMemory;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_INVALID_HEADER:
        return kTransferWeirdServerReply;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_FAILURE:
        return kTransferPeerNotVerified;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return kTransferSecureConnectError;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        // A connection that ended before the answer began gave nothing; one
        // that ended inside a body of a known length left it partial.
        if (call == API_SEND_REQUEST) {
            return connected ? kTransferSendError : kTransferCannotConnect;
        }
        if (call == API_RECEIVE_RESPONSE) {
            return kTransferGotNothing;
        }
        return lengthKnown ? kTransferPartialFile : kTransferReceiveError;
    default:
        known = false;
        return connected ? kTransferReceiveError : kTransferCannotConnect;
    }
}

// Runs one GET to its end: the body into `file` (at most `limit` bytes in
// all, `written` counting them), or a redirect's address.
Exchanged RunRequest(Request& request, HANDLE file, std::uint64_t limit, std::uint64_t& written,
                     const TransferLimits& limits, std::chrono::milliseconds connectBound,
                     Clock::time_point started, Clock::time_point deadline) {
    Exchanged outcome;
    std::optional<std::uint64_t> length;  // Content-Length, when the answer gave one
    std::uint64_t received = 0;
    const auto fail = [&](DWORD error, DWORD_PTR call) {
        outcome.connected = request.Connected();
        bool known = false;
        outcome.code = CodeOf(error, call, outcome.connected, length.has_value(), known);
        outcome.end =
            outcome.code == kTransferTimedOut ? Exchanged::End::TimedOut : Exchanged::End::Failed;
        outcome.winHttpError = known ? 0 : error;
        return outcome;
    };
    const auto ended = [&](Exchanged::End end) {
        outcome.end = end;
        outcome.connected = request.Connected();
        return outcome;
    };
    // The body has ended; a shorter one than announced is partial.
    const auto complete = [&] {
        if (length && received < *length) {
            outcome.end = Exchanged::End::Failed;
            outcome.code = kTransferPartialFile;
            outcome.connected = true;
            return outcome;
        }
        return ended(Exchanged::End::Complete);
    };
    while (true) {
        if (limits.stop && limits.stop()) {
            return ended(Exchanged::End::Stopped);
        }
        const auto now = Clock::now();
        if (now >= deadline || (!request.Connected() && now - started >= connectBound)) {
            return ended(Exchanged::End::TimedOut);
        }
        const std::optional<Notice> notice = request.Next(kTick);
        if (!notice) {
            continue;
        }
        switch (notice->status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            if (::WinHttpReceiveResponse(request.Get(), nullptr) == 0) {
                return fail(::GetLastError(), API_RECEIVE_RESPONSE);
            }
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
            DWORD status = 0;
            DWORD size = sizeof status;
            if (::WinHttpQueryHeaders(
                    request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) == 0) {
                return fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, API_RECEIVE_RESPONSE);
            }
            outcome.httpStatus = static_cast<long>(status);
            // A redirect is followed when it says where to; 304 only
            // says that nothing changed.
            if (status >= 300 && status < 400 && status != 304) {
                if (const auto location = request.Header(WINHTTP_QUERY_LOCATION)) {
                    outcome.location = windows_text::Utf8(*location);
                    return ended(Exchanged::End::Redirect);
                }
            }
            if (const auto announced = request.Header(WINHTTP_QUERY_CONTENT_LENGTH)) {
                wchar_t* end = nullptr;
                const unsigned long long value = std::wcstoull(announced->c_str(), &end, 10);
                if (end != announced->c_str() && *end == L'\0') {
                    length = value;
                }
            }
            // An answer announced past the cap is not read at all.
            if (length && written + *length > limit) {
                return ended(Exchanged::End::TooLarge);
            }
            if (::WinHttpQueryDataAvailable(request.Get(), nullptr) == 0) {
                return fail(::GetLastError(), API_QUERY_DATA_AVAILABLE);
            }
            break;
        }
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            if (notice->count == 0) {
                return complete();
            }
            if (::WinHttpReadData(request.Get(), request.Buffer(),
                                  std::min(notice->count, request.BufferSize()), nullptr) == 0) {
                return fail(::GetLastError(), API_READ_DATA);
            }
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: {
            if (notice->count == 0) {
                return complete();
            }
            if (written + notice->count > limit) {
                return ended(Exchanged::End::TooLarge);
            }
            DWORD done = 0;
            while (done < notice->count) {
                DWORD n = 0;
                if (::WriteFile(file, request.Buffer() + done, notice->count - done, &n, nullptr) ==
                    0) {
                    outcome.writeError = ::GetLastError();
                    return ended(Exchanged::End::WriteFailed);
                }
                if (n == 0) {
                    outcome.writeError = ERROR_DISK_FULL;  // nothing more would go
                    return ended(Exchanged::End::WriteFailed);
                }
                done += n;
            }
            written += notice->count;
            received += notice->count;
            if (::WinHttpQueryDataAvailable(request.Get(), nullptr) == 0) {
                return fail(::GetLastError(), API_QUERY_DATA_AVAILABLE);
            }
            break;
        }
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            if (notice->error == ERROR_WINHTTP_RESEND_REQUEST) {
                if (::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                         WINHTTP_NO_REQUEST_DATA, 0, 0, 0) == 0) {
                    return fail(::GetLastError(), API_SEND_REQUEST);
                }
                break;
            }
            return fail(notice->error, notice->call);
        default:
            break;
        }
    }
}

}  // namespace

std::string DownloadTargetProblem(const std::filesystem::path& path) {
    return ResolveTarget(path).problem;
}

TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferLimits& limits, const BodyCheck& check) {
    TransferResult result;
    if (!IsWebAddress(url)) {
        result.status = TransferStatus(kTransferUnsupportedProtocol);
        result.message = kOnlyWebAddresses;
        return result;
    }
    const Target target = ResolveTarget(path);
    if (!target.problem.empty()) {
        result.status = TransferStatus(kTransferWriteError);
        result.message = target.problem;
        return result;
    }
    const Session session;
    if (session.Get() == nullptr) {
        result.status = TransferStatus(kTransferFailedInit);
        result.message = TransferCodeText(kTransferFailedInit);
        return result;
    }
    std::filesystem::path temporary;
    DWORD createError = 0;
    Handle file(
        CreateTemporary(target.path, target.attributes & kKeptAttributes, temporary, createError));
    if (!file.Valid()) {
        result.status = TransferStatus(kTransferWriteError);
        result.message =
            "cannot create " + TextOfPath(temporary) + ": " + Win32ErrorText(createError);
        return result;
    }

    // As libcurl takes them: no total bound when it is 0 (or less), and
    // libcurl's own 300 s for a connection then.
    const auto started = Clock::now();
    const bool bounded = limits.totalTimeoutMs > 0;
    const auto deadline = bounded ? started + std::chrono::milliseconds(limits.totalTimeoutMs)
                                  : Clock::time_point::max();
    const std::chrono::milliseconds connectBound(
        limits.connectTimeoutMs > 0 ? limits.connectTimeoutMs : 300000);
    std::string address = url;
    std::uint64_t written = 0;
    Exchanged outcome;
    for (int redirects = 0;; ++redirects) {
        // WinHTTP's own bounds lie a little past this transfer's, which
        // are kept here, so that a time-out always reads the same.
        const auto left =
            bounded
                ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) +
                      kSpareTime
                : std::chrono::milliseconds(0);  // no bound of WinHTTP's either
        const std::optional<WebAddress> parts = ParseWebAddress(address);
        if (!parts) {
            outcome = Exchanged{};
            outcome.end = Exchanged::End::Failed;
            outcome.code = kTransferMalformedAddress;
            break;
        }
        Request request;
        DWORD error = 0;
        const auto requestStarted = Clock::now();
        if (!request.Start(
                session.Get(), *parts, static_cast<int>((connectBound + kSpareTime).count()),
                static_cast<int>(bounded ? std::max<long long>(left.count(), 1) : 0), error)) {
            bool known = false;
            outcome = Exchanged{};
            outcome.code = CodeOf(error, API_SEND_REQUEST, false, false, known);
            outcome.winHttpError = known ? 0 : error;
            outcome.end = outcome.code == kTransferTimedOut ? Exchanged::End::TimedOut
                                                            : Exchanged::End::Failed;
            break;
        }
        outcome = RunRequest(request, file.Get(), limits.maxBytes, written, limits, connectBound,
                             requestStarted, deadline);
        if (outcome.end != Exchanged::End::Redirect) {
            break;
        }
        const std::string next = ResolveLocation(address, outcome.location);
        if (!IsWebAddress(next)) {
            outcome.end = Exchanged::End::Failed;
            outcome.code = kTransferUnsupportedProtocol;
            address = next;
            break;
        }
        if (redirects == kMaxRedirects) {
            outcome.end = Exchanged::End::Failed;
            outcome.code = kTransferTooManyRedirects;
            break;
        }
        address = next;
    }
    const std::string host = HostOf(address);

    bool fileWritten = ::FlushFileBuffers(file.Get()) != 0;
    DWORD fileError = fileWritten ? ERROR_SUCCESS : ::GetLastError();
    if (!file.Close() && fileWritten) {
        fileWritten = false;
        fileError = ::GetLastError();
    }

    using End = Exchanged::End;
    if (outcome.end == End::Complete && outcome.httpStatus >= 400) {
        result.status = TransferStatus(static_cast<std::uint32_t>(outcome.httpStatus));
        result.message = HttpErrorMessage(host, outcome.httpStatus);
    } else if (outcome.end == End::TooLarge) {
        result.status = TransferStatus(kTransferTooLarge);
        result.message = TooLargeMessage(host, limits.maxBytes);
    } else if (outcome.end == End::Stopped) {
        result.status = static_cast<std::int32_t>(kTransferStatusStopped);
        result.message = StoppedMessage(host);
    } else if (outcome.end == End::WriteFailed) {
        result.status = TransferStatus(kTransferWriteError);
        result.message =
            "cannot write " + TextOfPath(temporary) + ": " + Win32ErrorText(outcome.writeError);
    } else if (outcome.end == End::TimedOut) {
        result.status = TransferStatus(kTransferTimedOut);
        result.message = TimedOutMessage(host, outcome.connected, limits.connectTimeoutMs,
                                         limits.totalTimeoutMs);
    } else if (outcome.end == End::Failed) {
        result.status = TransferStatus(outcome.code);
        result.message = host + ": " + TransferCodeText(outcome.code);
        if (outcome.winHttpError != 0) {
            result.message += " (WinHTTP error " + std::to_string(outcome.winHttpError) + ")";
        }
    } else if (!fileWritten) {
        result.status = TransferStatus(kTransferWriteError);
        result.message = "cannot write " + TextOfPath(temporary) + ": " + Win32ErrorText(fileError);
    }
    if (result.Succeeded() && check) {
        result.rejection = check(temporary);
        if (!result.rejection.empty()) {
            result.keptAt = KeepRejected(temporary, target.path);
        }
    }
    if (result.Succeeded()) {
        // The complete file takes the name at once; a read-only mark of the
        // old file is lifted for the move and put on the new content.
        const bool readOnly = target.exists && (target.attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (readOnly) {
            ::SetFileAttributesW(target.path.c_str(),
                                 target.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        }
        if (::MoveFileExW(temporary.c_str(), target.path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
            const DWORD error = ::GetLastError();
            if (readOnly) {
                ::SetFileAttributesW(target.path.c_str(), target.attributes);
            }
            result.status = TransferStatus(kTransferWriteError);
            result.message =
                "cannot write " + TextOfPath(target.path) + ": " + Win32ErrorText(error);
        } else {
            if (readOnly) {
                // The content is in place already; a mark that cannot be
                // put back does not undo it.
                ::SetFileAttributesW(target.path.c_str(), target.attributes);
            }
            result.replaced = target.exists;
        }
    }
    if (!result.Succeeded()) {
        ::DeleteFileW(temporary.c_str());  // a kept body is no longer there
    }
    return result;
}

}  // namespace velmorin
