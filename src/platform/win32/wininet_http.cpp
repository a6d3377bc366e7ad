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

namespace nl {

namespace {

constexpr DWORD kSecureFlags = 0x84800200;  // reload, no cache write, secure, no UI
constexpr DWORD kPlainFlags = 0x84000200;   // reload, no cache write, no UI
constexpr DWORD kStatusCodeAsNumber = 0x20000013;

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
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) {
        result.error = "bad URL: " + url;
        return result;
    }

    // Declared in the reverse order of closing: request, connection, session.
    InternetHandle session(InternetOpenA("Netloom/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.handle) {
        result.error = "InternetOpen failed";
        return result;
    }
    DWORD timeout_ms = static_cast<DWORD>(timeout_sec) * 1000u;
    InternetSetOptionA(session.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(session.handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(session.handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout_ms, sizeof timeout_ms);

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

    std::string block;
    for (const std::string& line : headers) block += line + "\r\n";
    void* data = body.empty() ? nullptr : const_cast<char*>(body.data());
    if (!HttpSendRequestA(request.handle, block.c_str(), static_cast<DWORD>(block.size()), data,
                          static_cast<DWORD>(body.size()))) {
        const DWORD code = GetLastError();
        result.error = "request failed (WinINet error " + std::to_string(code) + ")";
        return result;
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    HttpQueryInfoA(request.handle, kStatusCodeAsNumber, &status, &size, nullptr);
    result.status = static_cast<int32_t>(status);

    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request.handle, buffer, sizeof buffer, &got) && got > 0) result.body.append(buffer, got);
    return result;
}

}  // namespace nl
