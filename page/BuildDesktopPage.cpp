// frmMain's page generation: 1.htm in the program folder becomes 2.htm beside it, with the
// screen size in place of every "800" and "600".
#include "app/AnsiText.h"
#include "app/AppError.h"
#include "app/NumberText.h"
#include "app/frmMain.h"
#include "page/DesktopPage.h"
#include "app/FileIO.h"

namespace tarnwick {

void frmMain::BuildDesktopPage()
{
    // The template is read whole before the page is touched: a missing or unreadable template
    // leaves an older page as it was.
    std::string templateText;
    try {
        templateText = ReadWholeFile(TemplatePath());
    } catch (const AppError& error) {
        throw AppError(error.Number(), error.Description(),
                       "Cannot read the template " + ToUtf8(TemplatePath().u16string()) + ".");
    }

    const std::string width = ToAnsi(SingleToText(ScreenWidth.AsSingle()));
    const std::string height = ToAnsi(ScreenHeightText);
    PageResult page = BuildPageText(templateText, width, height);
    templateText = std::string();  // the page is built; free the template before writing

    TemplateItem = std::move(page.lastItem);
    // PageText starts out empty and is never cleared: the page is appended to it.
    if (PageText.empty())
        PageText = std::move(page.pageText);
    else
        PageText += page.pageText;
    try {
        ReplaceFileAtomically(PagePath(), {"\r\n", PageText, "\r\n"});
    } catch (const AppError& error) {
        throw AppError(error.Number(), error.Description(),
                       "Cannot write the page " + ToUtf8(PagePath().u16string()) + ".");
    }
}

}  // namespace tarnwick
