#include "platform.h"

#include <cstdio>

namespace nl {

void registerPlatformServices() { setHttpTransport(platformHttpRequest); }

WindowStarter platformWindowStarter() {
    return [](int, char**) {
        std::fputs("Error: not implemented yet\n", stderr);
        return 1;
    };
}

}  // namespace nl
