// The program's entry: dispatches the command line to one headless command or
// to the desktop window.
#pragma once

#include <functional>
#include <string>

#include "model/model.h"

namespace nl {

// Starts the desktop window with the untouched argument vector; returns its status.
using WindowStarter = std::function<int(int argc, char** argv)>;

int runMain(int argc, char** argv, const WindowStarter& startWindow);

void printUsage(const std::string& programName);

// "--sample" or "sample" give the built-in demo; anything else is opened as a file.
SchematicPtr openInput(const std::string& arg, std::string& error);

}  // namespace nl
