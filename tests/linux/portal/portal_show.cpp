// Hands one picture to the desktop portal on the session bus, as the program does, and says how
// it went: status 0 once the desktop has taken it, 1 with the report on stderr when it refused
// or failed, 3 where no portal offers the wallpaper interface.
//
//   tarnwick_portal_show [--plain] PICTURE
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include "base/AppError.h"
#include "desktop/linux/PortalBackground.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool plain = argc == 3 && std::strcmp(argv[1], "--plain") == 0;
    if (argc != 2 && !plain) {
        std::fprintf(stderr, "usage: %s [--plain] PICTURE\n", argv[0]);
        return 2;
    }
    auto portal = tarnwick::PortalBackground::Open();
    if (!portal) {
        std::fprintf(stderr, "no desktop portal offers the wallpaper interface\n");
        return 3;
    }
    const tarnwick::FilePath picture{std::string(argv[argc - 1])};
    try {
        if (plain)
            portal->ShowPlain(picture);
        else
            portal->ShowPicture(picture);
    } catch (const tarnwick::AppError& error) {
        std::fprintf(stderr, "%s\n", error.Report().c_str());
        return 1;
    }
    return 0;
}
