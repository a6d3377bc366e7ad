// One blocking HTTP(S) exchange with the AI provider. The portable core only
// sees this interface; each platform registers its own client at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nl {

struct HttpResponse {
    int32_t status = 0;  // 0 when no response arrived
    std::string body;    // exactly as received
    std::string error;   // empty on success; a non-2xx status is not an error
};

// method, absolute URL, body (may be empty), complete header lines without
// line ends, time-out in whole seconds. Never throws for network trouble.
using HttpTransportFn =
    std::function<HttpResponse(const std::string& method, const std::string& url, const std::string& body,
                               const std::vector<std::string>& headers, int timeout_sec)>;

// Installs the client that httpRequest uses (the platform's, or a test's).
void setHttpTransport(HttpTransportFn transport);
HttpTransportFn httpTransport();

HttpResponse httpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const std::vector<std::string>& headers, int timeout_sec);

// POST with "Content-Type: application/json" appended as the last header.
HttpResponse postJson(const std::string& url, const std::string& body, const std::vector<std::string>& headers,
                      int timeout_sec);

}  // namespace nl
