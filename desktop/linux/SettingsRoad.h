// A road that hands the desktop's own settings a picture, the page's or the plain one, in one way:
// only the failure's wording tells the two apart.
#pragma once

#include <string>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

class SettingsRoad : public IDesktopBackground {
public:
    void ShowPicture(const FilePath& picture) final
    {
        Show(picture, "Cannot make the picture " + picture.ToUtf8() + " the desktop background through " + Name() + ".");
    }

    void ShowPlain(const FilePath& plainPicture) final
    {
        Show(plainPicture, "Cannot take the page off the desktop through " + Name() + " (the plain picture " +
                               plainPicture.ToUtf8() + ").");
    }

protected:
    // Makes picture the background; a failure throws AppError with context as its report.
    virtual void Show(const FilePath& picture, const std::string& context) = 0;
};

}  // namespace tarnwick
