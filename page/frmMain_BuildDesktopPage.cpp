// frmMain's page generation: the template 1.htm becomes the page 2.htm, where the platform keeps
// them (Platform::pages), with the screen size in place of every "800" and "600".
#include "app/frmMain.h"
#include "base/AnsiText.h"
#include "base/NumberText.h"
#include "page/DesktopPage.h"

namespace tarnwick {

void frmMain::BuildDesktopPage()
{
    TemplateItem = WriteDesktopPage(TemplatePath(), PagePath(), ToAnsi(SingleToText(ScreenWidth.AsSingle())),
                                    ToAnsi(ScreenHeightText));
}

}  // namespace tarnwick
