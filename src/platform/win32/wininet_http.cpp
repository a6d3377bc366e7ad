// The HTTP client on Windows: WinINet, with fresh handles for every request,
// the system's proxy configuration and its certificate checks.
#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wininet.h>

#include <algorithm>

namespace nl {

namespace {

constexpr DWORD kSecureFlags = 0x84800200;  // reload, no cache write, secure, no UI
constexpr DWORD kPlainFlags = 0x84000200;   // reload, no cache write, no UI
constexpr DWORD kStatusCodeAsNumber = 0x20000013;
// A reply beyond this is not a chat answer (and parsing it would take
// gigabytes); reading stops and the request fails, as on Linux.
constexpr size_t kMaxBodyBytes = 32u << 20;
constexpr int kMaxTimeoutSec = 1000000;
// The tick count moves in steps of 10 to 16 ms.
constexpr ULONGLONG kTimerSlackMs = 32;

// What went wrong, in the words the Linux client uses for the same cause;
// codes without a cause of their own keep WinINet's number.
std::string failure(DWORD code) {
    switch (code) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return "the server's name could not be resolved";
        case ERROR_INTERNET_CANNOT_CONNECT:
            // WinINet has one code for every connection attempt that fails
            // at once; a host that does not answer ends in a time-out
            // instead, so what is left is nearly always a refusal (no server
            // on that port).
            return "connection refused";
        case ERROR_INTERNET_TIMEOUT:
            return "timed out";
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
            return "connection closed before the reply was complete";
        case ERROR_INTERNET_CONNECTION_ABORTED:
            return "connection lost";
        case ERROR_INTERNET_CONNECTION_RESET:
            return "connection reset by the server";
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
            return "the secure (TLS) connection could not be set up";
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
            return "the server's certificate is not trusted";
        case ERROR_HTTP_REDIRECT_FAILED:
            return "too many redirects";
        default:
            return "request failed (WinINet error " + std::to_string(code) + ")";
    }
}

// Time-outs in milliseconds: receive, send, connect, in that order.
void setTimeouts(HINTERNET handle, DWORD ms) {
    for (DWORD option :
         {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_CONNECT_TIMEOUT})
        InternetSetOptionA(handle, option, &ms, sizeof ms);
}

// Closes a WinINet handle on every way out of the request.
struct InternetHandle {
    HINTERNET handle;
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle) InternetCloseHandle(handle);
    }
};

}  // namespace

HttpResponse platformHttpRequest(const std::string& method, const std::string& url, const std::string& body,
                                 const std::vector<std::string>& headers, int timeout_sec) {
    HttpResponse result;

    char host[256] = {};
    char path[2048] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    // The URL parser takes spaces and schemes other than the two the Linux
    // client speaks; both builds refuse the same URLs.
    const bool plain = std::all_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; });
    if (!plain || !InternetCrackUrlA(url.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || host[0] == '\0') {
        result.error = "bad URL: " + url;
        return result;
    }

    // Declared in the reverse order of closing: request, connection, session.
    InternetHandle session(InternetOpenA("Netloom/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.handle) {
        result.error = "InternetOpen failed";
        return result;
    }
    const DWORD timeout_ms = static_cast<DWORD>(std::clamp(timeout_sec, 0, kMaxTimeoutSec)) * 1000u;
    setTimeouts(session.handle, timeout_ms);

    InternetHandle connection(
        InternetConnectA(session.handle, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.handle) {
        result.error = std::string("cannot connect to ") + host;
        return result;
    }

    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? kSecureFlags : kPlainFlags;
    InternetHandle request(
        HttpOpenRequestA(connection.handle, method.c_str(), path, nullptr, nullptr, nullptr, flags, 0));
    if (!request.handle) {
        result.error = "HttpOpenRequest failed";
        return result;
    }
    // Windows hands the session's time-outs down to the handles made from
    // it; Wine (8.0) does not, and without them on the request a silent
    // server holds the call for good. Setting them here as well changes
    // nothing on Windows.
    setTimeouts(request.handle, timeout_ms);

    std::string block;
    for (const std::string& line : headers) {
        // A line end inside a value (a pasted key, say) would start a header of its own.
        block += line.substr(0, line.find_first_of("\r\n"));
        block += "\r\n";
    }
    void* data = body.empty() ? nullptr : const_cast<char*>(body.data());
    const ULONGLONG started = GetTickCount64();
    if (!HttpSendRequestA(request.handle, block.c_str(), static_cast<DWORD>(block.size()), data,
                          static_cast<DWORD>(body.size()))) {
        DWORD code = GetLastError();
        // Windows reports a receive time-out as such; Wine (8.0) reports the
        // connection aborted. An abort once the time-out has run out is one.
        if (code == ERROR_INTERNET_CONNECTION_ABORTED && timeout_ms > 0 &&
            GetTickCount64() - started + kTimerSlackMs >= timeout_ms)
            code = ERROR_INTERNET_TIMEOUT;
        result.error = failure(code);
        return result;
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request.handle, kStatusCodeAsNumber, &status, &size, nullptr) || status == 0) {
        // Windows fails the send when the server closes without answering;
        // Wine's send succeeds and only the status is missing.
        result.error = failure(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return result;
    }
    result.status = static_cast<int32_t>(status);

    // Once the status line has arrived, a body cut short is kept as it is.
    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request.handle, buffer, sizeof buffer, &got) && got > 0) {
        if (got > kMaxBodyBytes - result.body.size()) {
            result = {};
            result.error = "the reply is larger than " + std::to_string(kMaxBodyBytes >> 20) + " MB";
            return result;
        }
        result.body.append(buffer, got);
    }
    return result;
}

}  // namespace nl
