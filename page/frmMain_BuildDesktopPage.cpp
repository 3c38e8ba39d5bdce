// frmMain's page generation: 1.htm in the program folder becomes 2.htm beside it, with the
// screen size in place of every "800" and "600".
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
