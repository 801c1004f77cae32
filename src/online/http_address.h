// SPDX-License-Identifier: MIT
// What every platform's HTTP transfer shares: which addresses are fetched,
// how a server is named in a failure, how a redirect's Location becomes the
// next address, and the statuses and texts of failures, so that a failure
// reads and counts the same whichever transfer library ran it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmorin {

// The transfer codes a failure's status carries below kTransferStatusBase.
// They are the numbers of the Linux transfer library (libcurl), and every
// platform reports its failures with them.
inline constexpr std::uint32_t kTransferUnsupportedProtocol = 1;
inline constexpr std::uint32_t kTransferFailedInit = 2;
inline constexpr std::uint32_t kTransferMalformedAddress = 3;
inline constexpr std::uint32_t kTransferHostNotResolved = 6;
inline constexpr std::uint32_t kTransferCannotConnect = 7;
inline constexpr std::uint32_t kTransferWeirdServerReply = 8;
inline constexpr std::uint32_t kTransferPartialFile = 18;
inline constexpr std::uint32_t kTransferWriteError = 23;
inline constexpr std::uint32_t kTransferOutOfMemory = 27;
inline constexpr std::uint32_t kTransferTimedOut = 28;
inline constexpr std::uint32_t kTransferSecureConnectError = 35;
inline constexpr std::uint32_t kTransferAborted = 42;
inline constexpr std::uint32_t kTransferTooManyRedirects = 47;
inline constexpr std::uint32_t kTransferGotNothing = 52;
inline constexpr std::uint32_t kTransferSendError = 55;
inline constexpr std::uint32_t kTransferReceiveError = 56;
inline constexpr std::uint32_t kTransferPeerNotVerified = 60;
inline constexpr std::uint32_t kTransferTooLarge = 63;

// How many redirects one transfer follows.
inline constexpr int kMaxRedirects = 10;

// The refusal of an address that is neither http nor https.
inline constexpr char kOnlyWebAddresses[] = "Only http and https addresses are fetched.";

// The failure status for a transfer code or an HTTP status:
// kTransferStatusBase | the number, negative as a 32-bit value.
std::int32_t TransferStatus(std::uint32_t code);

// The transfer library's text for one of the codes above ("Couldn't connect
// to server"); "Unknown error" for any other number.
const char* TransferCodeText(std::uint32_t code);

// True for an address that begins with http:// or https:// (in any case).
bool IsWebAddress(std::string_view url);

// An http or https address taken apart for a request.
struct WebAddress {
    bool secure = false;     // https
    std::string host;        // a name, an IPv4 address or a bracketed IPv6 address
    std::uint16_t port = 0;  // the scheme's port when the address names none
    std::string target;      // path and query as the request sends them ("/" at least)
};

// The parts of an http or https address; nothing when it is no such
// address or cannot be taken apart (no host, a port past 65535...).
std::optional<WebAddress> ParseWebAddress(std::string_view url);

// "host:port" of an http or https address (the scheme's port when it names
// none; an IPv6 address keeps its brackets), so that every failure names
// the server it concerns; the address itself when it is no http or https
// address or cannot be taken apart.
std::string HostOf(std::string_view url);

// The address a redirect leads to: `location` (absolute, or relative to
// `base` as a browser takes it), without its fragment, spaces and other
// bytes an address cannot carry percent-encoded.
std::string ResolveLocation(std::string_view base, std::string_view location);

// "10 s", "1.5 s".
std::string Seconds(long milliseconds);

// The failure texts of a transfer, each beginning with the server's
// "host:port".
std::string HttpErrorMessage(const std::string& host, long httpStatus);
std::string TooLargeMessage(const std::string& host, std::uint64_t maxBytes);
std::string StoppedMessage(const std::string& host);
// A transfer that ran out of time: "no connection within" the connect
// bound when no connection was made, else "no answer within" the total.
std::string TimedOutMessage(const std::string& host, bool connected, long connectTimeoutMs,
                            long totalTimeoutMs);

}  // namespace velmorin
