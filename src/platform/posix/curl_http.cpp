// The HTTP client on POSIX systems: libcurl, one easy handle per request.
// Proxy variables (http_proxy, https_proxy, no_proxy) and certificate checks
// are libcurl's defaults; redirects are not followed and nothing is retried.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "platform.h"

namespace nl {

namespace {

// The same limits as the Windows client's URL buffers, so both refuse the same URLs.
constexpr size_t kMaxHostBytes = 255;
constexpr size_t kMaxPathBytes = 2047;
// A reply beyond this is not a chat answer; reading stops and what came is kept.
constexpr size_t kMaxBodyBytes = 256u << 20;
constexpr long kMaxTimeoutSec = 1000000;

struct Transfer {
    CURL* curl = nullptr;
    std::string body;
    bool secure = false;
    long long timeout_us = 0;  // 0: none
    std::chrono::steady_clock::time_point start;
    bool timed_out = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (n > kMaxBodyBytes - t->body.size()) return 0;  // ends the transfer
    t->body.append(data, n);
    return n;
}

// libcurl bounds the connection phase (name lookup, TCP and TLS) itself; the
// rest of the exchange gets a time-out of its own that starts once the
// connection is up, as the Windows client's send and receive time-outs do.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->timeout_us <= 0) return 0;
    curl_off_t connected_us = 0;
    curl_easy_getinfo(t->curl, t->secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T, &connected_us);
    if (connected_us <= 0) return 0;
    const long long elapsed_us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t->start).count();
    if (elapsed_us - connected_us <= t->timeout_us) return 0;
    t->timed_out = true;
    return 1;
}

bool curlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct UrlParts {
    bool ok = false;
    bool secure = false;
};

UrlParts checkUrl(const std::string& url) {
    UrlParts parts;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return parts;
    auto get = [&](CURLUPart part, std::string& out) {
        char* text = nullptr;
        if (curl_url_get(handle.get(), part, &text, 0) != CURLUE_OK) return false;
        out = text;
        curl_free(text);
        return true;
    };
    std::string scheme, host, path, query;
    if (!get(CURLUPART_SCHEME, scheme) || !get(CURLUPART_HOST, host)) return parts;
    get(CURLUPART_PATH, path);
    if (get(CURLUPART_QUERY, query)) path += "?" + query;
    if (scheme != "http" && scheme != "https") return parts;
    if (host.empty() || host.size() > kMaxHostBytes || path.size() > kMaxPathBytes) return parts;
    parts.ok = true;
    parts.secure = scheme == "https";
    return parts;
}

std::string failure(long code) { return "request failed (WinINet error " + std::to_string(code) + ")"; }

}  // namespace

HttpResponse platformHttpRequest(const std::string& method, const std::string& url, const std::string& body,
                                 const std::vector<std::string>& headers, int timeout_sec) {
    HttpResponse result;
    const UrlParts parts = checkUrl(url);
    if (!parts.ok) {
        result.error = "bad URL: " + url;
        return result;
    }
    if (!curlReady()) {
        result.error = "InternetOpen failed";
        return result;
    }
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.error = "InternetOpen failed";
        return result;
    }

    curl_slist* list = nullptr;
    bool hasExpect = false;
    for (const std::string& line : headers) {
        // A line end inside a value (a pasted key, say) would start a header of its own.
        const std::string clean = line.substr(0, line.find_first_of("\r\n"));
        hasExpect = hasExpect || clean.rfind("Expect:", 0) == 0;
        list = curl_slist_append(list, clean.c_str());
    }
    // libcurl would otherwise wait for "100 Continue" before sending a large body.
    if (!hasExpect) list = curl_slist_append(list, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(list, &curl_slist_free_all);

    Transfer t;
    t.curl = curl.get();
    t.secure = parts.secure;
    const long timeout = std::clamp<long>(timeout_sec, 0, kMaxTimeoutSec);
    t.timeout_us = static_cast<long long>(timeout) * 1000000;

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Netloom/1.0");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    if (timeout > 0) curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    if (!body.empty() || method == "POST") {
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        if (method != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    t.start = std::chrono::steady_clock::now();
    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK || status > 0) {
        // Once the status line has arrived, a body cut short is kept as it is.
        result.status = static_cast<int32_t>(status);
        result.body = std::move(t.body);
        return result;
    }
    result.error = failure(t.timed_out ? CURLE_OPERATION_TIMEDOUT : code);
    return result;
}

}  // namespace nl
