#include "platform.h"

#include <cstdio>

namespace nl {

WindowStarter platformWindowStarter() {
    return [](int, char**) {
        std::fputs("Error: not implemented yet\n", stderr);
        return 1;
    };
}

}  // namespace nl
