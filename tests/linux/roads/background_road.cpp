// Drives one desktop's background road as the program does, for the end-to-end tests:
//
//   tarnwick_background_road ROAD show PICTURE | plain PICTURE | save FILE | restore FILE PLAIN
//
// ROAD is mate, cinnamon, plasma or sway. Status 0 once the desktop has taken the change; 1 with the
// report on stderr when it failed; 3 where the road's desktop is not there; 2 for bad usage.
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "base/AppError.h"
#include "desktop/linux/GSettingsBackground.h"
#include "desktop/linux/PlasmaBackground.h"
#include "desktop/linux/SwayBackground.h"

namespace {

// Every picture counts as the program's: restore puts back every part of the desktop.
class EveryPicture : public tarnwick::IOurPictures {
public:
    bool Holds(const tarnwick::FilePath&) const override { return true; }
};

}  // namespace

int main(int argc, char** argv)
{
    using namespace tarnwick;
    const EveryPicture ours;
    QCoreApplication app(argc, argv);
    const std::string road = argc > 1 ? argv[1] : "";
    const std::string action = argc > 2 ? argv[2] : "";
    if (argc != (action == "restore" ? 5 : 4)) {
        std::fprintf(stderr,
                     "usage: %s mate|cinnamon|plasma|sway show|plain PICTURE | save FILE | restore FILE PLAIN\n",
                     argv[0]);
        return 2;
    }
    std::unique_ptr<IDesktopBackground> background = road == "mate"       ? OpenMateBackground()
                                                     : road == "cinnamon" ? OpenCinnamonBackground()
                                                     : road == "plasma"   ? OpenPlasmaBackground()
                                                     : road == "sway"     ? OpenSwayBackground()
                                                                          : nullptr;
    if (!background) {
        std::fprintf(stderr, "the %s road's desktop is not there\n", road.c_str());
        return 3;
    }
    const std::string file = argv[3];
    try {
        if (action == "show") {
            background->ShowPicture(FilePath(file));
        } else if (action == "plain") {
            background->ShowPlain(FilePath(file));
        } else if (action == "save") {
            std::ofstream(file, std::ios::binary) << background->Shows(ours).saved;
        } else if (action == "restore") {
            std::ifstream in(file, std::ios::binary);
            const std::string saved{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            background->Restore(saved, FilePath(std::string(argv[4])), ours);
        } else {
            std::fprintf(stderr, "unknown action %s\n", action.c_str());
            return 2;
        }
    } catch (const AppError& error) {
        std::fprintf(stderr, "%s\n", error.Report().c_str());
        return 1;
    }
    return 0;
}
