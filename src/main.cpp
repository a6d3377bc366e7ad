#include "cli.h"
#include "platform.h"

int main(int argc, char** argv) { return nl::runMain(argc, argv, nl::platformWindowStarter()); }
