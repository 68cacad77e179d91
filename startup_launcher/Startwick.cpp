// Startwick: placed in a Startup folder, run at log-on with "/Startup". It shows nothing and always ends
// with 0.
#include "startup_launcher/CStartwickLauncher.h"
#include "startup_launcher/CStartwickPlatform.h"

#include <string>

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    try {
        CStartwickPlatform platform;
        CStartwickLauncher(platform).Run(commandLine);
    } catch (...) {
        // Nothing is reported to the user, whatever happened.
    }
    return 0;
}
