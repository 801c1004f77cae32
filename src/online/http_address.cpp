// SPDX-License-Identifier: MIT
// Addresses, statuses and failure texts of HTTP transfers, the same on
// every platform.
#include "online/http_address.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "online/http_transfer.h"

namespace velmorin {

static_assert(kTransferStatusStopped == (kTransferStatusBase | kTransferAborted));

namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string Lowered(std::string_view text) {
    std::string lowered;
    for (const char c : text) {
        lowered.push_back(Lower(c));
    }
    return lowered;
}

// The scheme of an absolute address ("http"), lowered; empty when the
// address has none (a relative one).
std::string SchemeOf(std::string_view url) {
    std::size_t i = 0;
    while (i < url.size() && (std::isalpha(static_cast<unsigned char>(url[i])) != 0 ||
                              (i > 0 && (std::isdigit(static_cast<unsigned char>(url[i])) != 0 ||
                                         url[i] == '+' || url[i] == '-' || url[i] == '.')))) {
        ++i;
    }
    return i > 0 && i < url.size() && url[i] == ':' ? Lowered(url.substr(0, i)) : std::string();
}

// An address taken apart: "scheme://authority/path?query#fragment".
struct AddressParts {
    std::string scheme;
    std::string authority;
    bool hasAuthority = false;
    std::string path;
    std::string query;  // with its '?', empty when there is none
};

AddressParts Split(std::string_view url) {
    AddressParts parts;
    const std::size_t fragment = url.find('#');
    if (fragment != std::string_view::npos) {
        url = url.substr(0, fragment);
    }
    parts.scheme = SchemeOf(url);
    if (!parts.scheme.empty()) {
        url.remove_prefix(parts.scheme.size() + 1);
    }
    if (url.substr(0, 2) == "//") {
        url.remove_prefix(2);
        const std::size_t end = url.find_first_of("/?");
        parts.hasAuthority = true;
        parts.authority = std::string(url.substr(0, end));
        url = end == std::string_view::npos ? std::string_view() : url.substr(end);
    }
    const std::size_t query = url.find('?');
    parts.path = std::string(url.substr(0, query));
    if (query != std::string_view::npos) {
        parts.query = std::string(url.substr(query));
    }
    return parts;
}

// A path without its "." and ".." segments, as an address's path is taken.
std::string WithoutDotSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = path.empty() || path[0] != '/' ? 0 : 1;
    bool endsInDirectory = false;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string segment = path.substr(start, end - start);
        endsInDirectory = segment == "." || segment == "..";
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result = !path.empty() && path[0] == '/' ? "/" : "";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        result += (i == 0 ? "" : "/") + segments[i];
    }
    if (endsInDirectory && !segments.empty()) {
        result += "/";
    }
    return result;
}

// Spaces, control characters and bytes past ASCII as %XX.
std::string Encoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";  // as libcurl writes them
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

bool AllDigits(std::string_view text) {
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// A host name or address without the characters no host can have.
bool IsHostText(std::string_view host) {
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F ||
            std::string_view("\\<>\"^`{|}@[]").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return !host.empty();
}

}  // namespace

std::int32_t TransferStatus(std::uint32_t code) {
    return static_cast<std::int32_t>(kTransferStatusBase | (code & 0xFFFF));
}

const char* TransferCodeText(std::uint32_t code) {
    switch (code) {
    case kTransferUnsupportedProtocol:
        return "Unsupported protocol";
    case kTransferFailedInit:
        return "Failed initialization";
    case kTransferMalformedAddress:
        return "URL using bad/illegal format or missing URL";
    case kTransferHostNotResolved:
        return "Couldn't resolve host name";
    case kTransferCannotConnect:
        return "Couldn't connect to server";
    case kTransferWeirdServerReply:
        return "Weird server reply";
    case kTransferPartialFile:
        return "Transferred a partial file";
    case kTransferWriteError:
        return "Failed writing received data to disk/application";
    case kTransferOutOfMemory:
        return "Out of memory";
    case kTransferTimedOut:
        return "Timeout was reached";
    case kTransferSecureConnectError:
        return "SSL connect error";
    case kTransferAborted:
        return "Operation was aborted by an application callback";
    case kTransferTooManyRedirects:
        return "Number of redirects hit maximum amount";
    case kTransferGotNothing:
        return "Server returned nothing (no headers, no data)";
    case kTransferSendError:
        return "Failed sending data to the peer";
    case kTransferReceiveError:
        return "Failure when receiving data from the peer";
    case kTransferPeerNotVerified:
        return "SSL peer certificate or SSH remote key was not OK";
    case kTransferTooLarge:
        return "Maximum file size exceeded";
    default:
        return "Unknown error";
    }
}

bool IsWebAddress(std::string_view url) {
    const std::string scheme = SchemeOf(url);
    return (scheme == "http" || scheme == "https") && url.substr(scheme.size() + 1, 2) == "//";
}

std::optional<WebAddress> ParseWebAddress(std::string_view url) {
    if (!IsWebAddress(url)) {
        return std::nullopt;
    }
    const AddressParts parts = Split(url);
    std::string_view authority = parts.authority;
    // The user part ends at the first '@'; a host cannot hold another.
    if (const std::size_t at = authority.find('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 2 ||
            !IsHostText(authority.substr(1, close - 1)) ||
            (close + 1 < authority.size() && authority[close + 1] != ':')) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        port = close + 1 < authority.size() ? authority.substr(close + 2) : std::string_view();
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        port = colon != std::string_view::npos ? authority.substr(colon + 1) : std::string_view();
        if (!IsHostText(host)) {
            return std::nullopt;
        }
    }
    if (!AllDigits(port)) {
        return std::nullopt;
    }
    WebAddress address;
    address.secure = parts.scheme == "https";
    address.host = std::string(host);
    unsigned long number = address.secure ? 443 : 80;
    if (!port.empty()) {
        // Leading zeros say nothing ("08" is 8); more than five digits are
        // past any port.
        const std::size_t first = port.find_first_not_of('0');
        const std::string_view digits =
            first == std::string_view::npos ? std::string_view("0") : port.substr(first);
        if (digits.size() > 5) {
            return std::nullopt;
        }
        number = std::stoul(std::string(digits));
        if (number > 65535) {
            return std::nullopt;
        }
    }
    address.port = static_cast<std::uint16_t>(number);
    address.target =
        Encoded((parts.path.empty() ? "/" : WithoutDotSegments(parts.path)) + parts.query);
    return address;
}

std::string HostOf(std::string_view url) {
    const std::optional<WebAddress> address = ParseWebAddress(url);
    return address ? address->host + ":" + std::to_string(address->port) : std::string(url);
}

std::string ResolveLocation(std::string_view base, std::string_view location) {
    const AddressParts from = Split(base);
    const AddressParts to = Split(location);
    AddressParts next;
    if (!to.scheme.empty()) {
        next = to;
        next.path = WithoutDotSegments(to.path);
    } else if (to.hasAuthority) {
        next = to;
        next.scheme = from.scheme;
        next.path = WithoutDotSegments(to.path);
    } else {
        next = from;
        if (to.path.empty()) {
            if (!to.query.empty()) {
                next.query = to.query;
            }
        } else if (to.path.front() == '/') {
            next.path = WithoutDotSegments(to.path);
            next.query = to.query;
        } else {
            // Beside the base's last segment; an address with a host and no
            // path stands for "/".
            const std::size_t slash = from.path.rfind('/');
            const std::string directory = slash == std::string::npos
                                              ? (from.hasAuthority ? "/" : "")
                                              : from.path.substr(0, slash + 1);
            next.path = WithoutDotSegments(directory + to.path);
            next.query = to.query;
        }
    }
    std::string address = next.scheme + ":";
    if (next.hasAuthority) {
        address += "//" + next.authority;
    }
    return address + Encoded(next.path + next.query);
}

std::string Seconds(long milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, milliseconds % 1000 == 0 ? "%.0f s" : "%.1f s",
                  static_cast<double>(milliseconds) / 1000.0);
    return text;
}

std::string HttpErrorMessage(const std::string& host, long httpStatus) {
    return host + ": the server answered HTTP " + std::to_string(httpStatus) + ".";
}

std::string TooLargeMessage(const std::string& host, std::uint64_t maxBytes) {
    return host + ": the answer is larger than " + std::to_string(maxBytes) + " bytes.";
}

std::string StoppedMessage(const std::string& host) {
    return host + ": Interrupted.";
}

std::string TimedOutMessage(const std::string& host, bool connected, long connectTimeoutMs,
                            long totalTimeoutMs) {
    return host + ": " + TransferCodeText(kTransferTimedOut) + ", " +
           (connected ? "no answer within " + Seconds(totalTimeoutMs)
                      : "no connection within " + Seconds(connectTimeoutMs));
}

}  // namespace velmorin
