#include "app/cli.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    nl::registerPlatformServices();
    return nl::runMain(argc, argv, nl::platformWindowStarter());
}
