// LXDE's and LXQt's desktop: the running `pcmanfm --desktop` (or `pcmanfm-qt --desktop`) draws
// it. Its own command line hands it a wallpaper: `pcmanfm --set-wallpaper=FILE
// --wallpaper-mode=stretch` passes both to the running instance and ends; the instance keeps them
// in its profile's settings (pcmanfm: ~/.config/pcmanfm/<profile>/desktop-items-0.conf, wallpaper=
// and wallpaper_mode=; pcmanfm-qt: ~/.config/pcmanfm-qt/<profile>/settings.conf, Wallpaper= and
// WallpaperMode=, as QSettings writes them), which tell what it showed before and whether it took
// the picture; a profile without the user's own file has the system's (XDG_CONFIG_DIRS).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

class PcmanfmBackground : public IDesktopBackground {
public:
    // Null where none of this user's processes is a pcmanfm or pcmanfm-qt with --desktop: the
    // command line would start a new instance rather than hand the picture to a desktop.
    static std::unique_ptr<PcmanfmBackground> Open();

    std::string Name() const override { return "the " + program_ + " desktop"; }
    void ShowPicture(const FilePath& picture) override;
    void ShowPlain(const FilePath& plainPicture) override;
    // Ours where the settings file names one of our pictures; unread where it cannot be read.
    // Saved: "<wallpaper>\n<mode>" from the settings file; empty where it names no wallpaper.
    // (pcmanfm-qt does not note a mode given on its command line: the page is shown in the noted
    // mode where that shows a picture, so the person's picture comes back in it.)
    DesktopShows Shows(const IOurPictures& ours) override;
    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override;

private:
    PcmanfmBackground(std::string program, std::string profile)
        : program_(std::move(program)), profile_(profile.empty() ? "default" : std::move(profile)),
          profileGiven_(profile_ != "default")
    {
    }

    struct Setting {
        std::string wallpaper;
        std::string mode;
    };
    // Where the instance writes its settings: the user's own file.
    std::string SettingsFile() const;
    // The file's name below a config folder: "pcmanfm/<profile>/desktop-items-0.conf".
    std::string SettingsName() const;
    // Where it reads them: the user's own file, else the system's ($XDG_CONFIG_DIRS, else
    // /etc/xdg; for pcmanfm its profile's pcmanfm.conf), as a profile the user has not changed yet
    // has only those.
    std::string ReadFile() const;
    std::optional<Setting> ReadSetting() const;
    // The mode a picture of the screen's size is handed with; empty for the one it has.
    std::string ModeForPicture() const;
    // The picture's path as the text the program is handed; throws AppError where it is not UTF-8.
    std::string TextOf(const FilePath& picture) const;
    // Runs the program with the arguments, waits for it and throws AppError unless it ended with
    // 0 and, where the settings can be read, they name the wallpaper.
    void Hand(const std::string& wallpaper, const std::string& mode);

    std::string program_;  // "pcmanfm" or "pcmanfm-qt"
    std::string profile_;  // the running instance's --profile, else "default"
    bool profileGiven_;    // the running instance was started with it, so the request names it
};

std::unique_ptr<IDesktopBackground> OpenPcmanfmBackground();

}  // namespace tarnwick
