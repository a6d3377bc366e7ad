// What each operating system supplies to the portable core.
#pragma once

#include "cli.h"

namespace nl {

// Starts this platform's desktop window.
WindowStarter platformWindowStarter();

}  // namespace nl
