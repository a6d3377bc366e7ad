// The HTTP client on POSIX systems: libcurl, one easy handle per request.
// Proxy variables (http_proxy, https_proxy, no_proxy) and certificate checks
// are libcurl's defaults; redirects are not followed and nothing is retried.
//
// libcurl is loaded on the first request rather than linked: it drags in some
// thirty shared libraries (TLS, LDAP, Kerberos, ...), and loading them would
// cost every headless command a noticeable share of its run time.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>

#include "platform/platform.h"

namespace nl {

namespace {

struct CurlApi {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    decltype(&::curl_url) url = nullptr;
    decltype(&::curl_url_cleanup) url_cleanup = nullptr;
    decltype(&::curl_url_set) url_set = nullptr;
    decltype(&::curl_url_get) url_get = nullptr;
    decltype(&::curl_free) free = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
};

template <typename F>
bool bind(void* lib, const char* name, F& fn) {
    fn = reinterpret_cast<F>(dlsym(lib, name));
    return fn != nullptr;
}

// Loads libcurl and initialises it once; null when it is not installed.
const CurlApi* curlApi() {
    static std::once_flag once;
    static CurlApi api;
    static bool ready = false;
    std::call_once(once, [] {
        void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!lib) lib = dlopen("libcurl.so", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return;
        ready = bind(lib, "curl_global_init", api.global_init) && bind(lib, "curl_easy_init", api.easy_init) &&
                bind(lib, "curl_easy_cleanup", api.easy_cleanup) && bind(lib, "curl_easy_setopt", api.easy_setopt) &&
                bind(lib, "curl_easy_perform", api.easy_perform) && bind(lib, "curl_easy_getinfo", api.easy_getinfo) &&
                bind(lib, "curl_slist_append", api.slist_append) &&
                bind(lib, "curl_slist_free_all", api.slist_free_all) && bind(lib, "curl_url", api.url) &&
                bind(lib, "curl_url_cleanup", api.url_cleanup) && bind(lib, "curl_url_set", api.url_set) &&
                bind(lib, "curl_url_get", api.url_get) && bind(lib, "curl_free", api.free) &&
                bind(lib, "curl_easy_strerror", api.easy_strerror) && api.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
    return ready ? &api : nullptr;
}

// The same limits as the Windows client's URL buffers, so both refuse the same URLs.
constexpr size_t kMaxHostBytes = 255;
constexpr size_t kMaxPathBytes = 2047;
// A reply beyond this is not a chat answer (and parsing it would take
// gigabytes); reading stops and the request fails.
constexpr size_t kMaxBodyBytes = 32u << 20;
constexpr long kMaxTimeoutSec = 1000000;

struct Transfer {
    CURL* curl = nullptr;
    std::string body;
    bool secure = false;
    long long timeout_us = 0;  // 0: none
    std::chrono::steady_clock::time_point start;
    bool timed_out = false;
    bool too_large = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (n > kMaxBodyBytes - t->body.size()) {
        t->too_large = true;
        return 0;  // ends the transfer
    }
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
    curlApi()->easy_getinfo(t->curl, t->secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T, &connected_us);
    if (connected_us <= 0) return 0;
    const long long elapsed_us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t->start).count();
    if (elapsed_us - connected_us <= t->timeout_us) return 0;
    t->timed_out = true;
    return 1;
}

struct UrlParts {
    bool ok = false;
    bool secure = false;
};

UrlParts checkUrl(const CurlApi& api, const std::string& url) {
    UrlParts parts;
    std::unique_ptr<CURLU, decltype(api.url_cleanup)> handle(api.url(), api.url_cleanup);
    if (!handle || api.url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return parts;
    auto get = [&](CURLUPart part, std::string& out) {
        char* text = nullptr;
        if (api.url_get(handle.get(), part, &text, 0) != CURLUE_OK) return false;
        out = text;
        api.free(text);
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

// What went wrong, in the words a user needs (curl's own texts name the
// library's view, "Couldn't connect to server", not the cause).
std::string failure(const CurlApi& api, CURL* curl, CURLcode code) {
    long os = 0;
    api.easy_getinfo(curl, CURLINFO_OS_ERRNO, &os);
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return "the server's name could not be resolved";
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "the proxy's name could not be resolved";
        case CURLE_COULDNT_CONNECT:
            if (os == ECONNREFUSED) return "connection refused";
            if (os == ENETUNREACH || os == EHOSTUNREACH) return "the server cannot be reached";
            return "cannot connect to the server";
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out";
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return "connection closed before the reply was complete";
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return os == ECONNRESET ? "connection reset by the server" : "connection lost";
        case CURLE_SSL_CONNECT_ERROR:
            return "the secure (TLS) connection could not be set up";
        case CURLE_PEER_FAILED_VERIFICATION:
            return "the server's certificate is not trusted";
        case CURLE_TOO_MANY_REDIRECTS:
            return "too many redirects";
        default:
            return api.easy_strerror(code);
    }
}

}  // namespace

HttpResponse platformHttpRequest(const std::string& method, const std::string& url, const std::string& body,
                                 const std::vector<std::string>& headers, int timeout_sec) {
    HttpResponse result;
    const CurlApi* apiPtr = curlApi();
    if (!apiPtr) {
        result.error = "InternetOpen failed";
        return result;
    }
    const CurlApi& api = *apiPtr;
    const UrlParts parts = checkUrl(api, url);
    if (!parts.ok) {
        result.error = "bad URL: " + url;
        return result;
    }
    std::unique_ptr<CURL, decltype(api.easy_cleanup)> curl(api.easy_init(), api.easy_cleanup);
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
        list = api.slist_append(list, clean.c_str());
    }
    // libcurl would otherwise wait for "100 Continue" before sending a large body.
    if (!hasExpect) list = api.slist_append(list, "Expect:");
    std::unique_ptr<curl_slist, decltype(api.slist_free_all)> headerList(list, api.slist_free_all);

    Transfer t;
    t.curl = curl.get();
    t.secure = parts.secure;
    const long timeout = std::clamp<long>(timeout_sec, 0, kMaxTimeoutSec);
    t.timeout_us = static_cast<long long>(timeout) * 1000000;

    CURL* c = curl.get();
    api.easy_setopt(c, CURLOPT_URL, url.c_str());
    api.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    api.easy_setopt(c, CURLOPT_USERAGENT, "Netloom/1.0");
    api.easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    api.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    if (timeout > 0) api.easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    api.easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    api.easy_setopt(c, CURLOPT_WRITEDATA, &t);
    api.easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    api.easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    api.easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    if (!body.empty() || method == "POST") {
        api.easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        api.easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        if (method != "POST") api.easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        api.easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        api.easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    t.start = std::chrono::steady_clock::now();
    const CURLcode code = api.easy_perform(c);
    long status = 0;
    api.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (t.too_large) {
        result.error = "the reply is larger than " + std::to_string(kMaxBodyBytes >> 20) + " MB";
        return result;
    }
    if (code == CURLE_OK || status > 0) {
        // Once the status line has arrived, a body cut short is kept as it is.
        result.status = static_cast<int32_t>(status);
        result.body = std::move(t.body);
        return result;
    }
    result.error = failure(api, c, t.timed_out ? CURLE_OPERATION_TIMEDOUT : code);
    return result;
}

}  // namespace nl
