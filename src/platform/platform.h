// What each operating system supplies to the portable core.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/cli.h"
#include "assistant/http.h"

namespace nl {

// Hands the platform's services (the HTTP client, the heap reserver, the PDF and PNG writers) to the
// core. Called once at start-up, before any other thread exists.
void registerPlatformServices();

// Prepares the heap for a large design's load (see heap_reserve.h); POSIX only.
void reserveLargePageHeap(size_t bytes);

// Starts this platform's desktop window.
WindowStarter platformWindowStarter();

// This platform's HTTP client: libcurl on POSIX systems, WinINet on Windows.
HttpResponse platformHttpRequest(const std::string& method, const std::string& url, const std::string& body,
                                 const std::vector<std::string>& headers, int timeout_sec);

}  // namespace nl
