// The Windows shell's Active Desktop object through COM. The calling thread must be a
// single-threaded COM apartment.
#pragma once

#include "desktop/WallpaperShell.h"

namespace tarnwick {

class ActiveDesktopShell : public IWallpaperShell {
public:
    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override;
};

}  // namespace tarnwick
