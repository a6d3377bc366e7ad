#include "assistant/http.h"

#include <mutex>
#include <utility>

namespace nl {

namespace {

std::mutex transportMutex;

HttpTransportFn& registeredTransport() {
    static HttpTransportFn transport;
    return transport;
}

}  // namespace

void setHttpTransport(HttpTransportFn transport) {
    std::lock_guard<std::mutex> lock(transportMutex);
    registeredTransport() = std::move(transport);
}

HttpTransportFn httpTransport() {
    std::lock_guard<std::mutex> lock(transportMutex);
    return registeredTransport();
}

HttpResponse httpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const std::vector<std::string>& headers, int timeout_sec) {
    const HttpTransportFn transport = httpTransport();
    if (!transport) {
        HttpResponse r;
        r.error = "no HTTP client on this platform";
        return r;
    }
    return transport(method, url, body, headers, timeout_sec);
}

HttpResponse postJson(const std::string& url, const std::string& body, const std::vector<std::string>& headers,
                      int timeout_sec) {
    std::vector<std::string> lines = headers;
    lines.emplace_back("Content-Type: application/json");
    return httpRequest("POST", url, body, lines, timeout_sec);
}

}  // namespace nl
