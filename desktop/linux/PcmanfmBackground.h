// LXDE's and LXQt's desktop: the running `pcmanfm --desktop` (or `pcmanfm-qt --desktop`) draws
// it. Its own command line hands it a wallpaper: `pcmanfm --set-wallpaper=FILE
// --wallpaper-mode=stretch` passes both to the running instance and ends; the instance keeps them
// in its profile's settings (pcmanfm: ~/.config/pcmanfm/<profile>/desktop-items-0.conf, wallpaper=
// and wallpaper_mode=; pcmanfm-qt: ~/.config/pcmanfm-qt/<profile>/settings.conf, Wallpaper= and
// WallpaperMode=), which tell what it showed before and whether it took the picture.
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
    // Saved: "<wallpaper>\n<mode>" from the settings file; empty where it names no wallpaper. (pcmanfm-qt does not note
    // a mode given on its command line; its picture comes back in the mode the settings name, or the one it shows.)
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
    std::string SettingsFile() const;
    std::optional<Setting> ReadSetting() const;
    // Runs the program with the arguments, waits for it and throws AppError unless it ended with
    // 0 and, where the settings can be read, they name the wallpaper.
    void Hand(const std::string& wallpaper, const std::string& mode);

    std::string program_;  // "pcmanfm" or "pcmanfm-qt"
    std::string profile_;  // the running instance's --profile, else "default"
    bool profileGiven_;    // the running instance was started with it, so the request names it
};

std::unique_ptr<IDesktopBackground> OpenPcmanfmBackground();

}  // namespace tarnwick
