#include "platform/platform.h"

#include <cstdio>

#include "base/heap_reserve.h"

namespace nl {

void registerPlatformServices() {
    setHttpTransport(platformHttpRequest);
#ifndef _WIN32
    // Not measured on Windows yet, so its heap is left as the system sets it up.
    setHeapReserver(reserveLargePageHeap);
#endif
}

WindowStarter platformWindowStarter() {
    return [](int, char**) {
        std::fputs("Error: not implemented yet\n", stderr);
        return 1;
    };
}

}  // namespace nl
