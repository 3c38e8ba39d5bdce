// The page file: the template streamed into a new page, which replaces the older one once whole.
#include <cstring>
#include <memory>

#include "base/AppError.h"
#include "base/FileIO.h"
#include "page/DesktopPage.h"

namespace tarnwick {

namespace {

// The template is read, and the page written, a window at a time: memory stays small whatever
// the template's size, and the data stays in the processor's caches.
constexpr size_t kWindow = size_t{1} << 20;

AppError InContext(const AppError& error, const std::string& context)
{
    return AppError(error.Number(), error.Description(), context);
}

}  // namespace

std::string WriteDesktopPage(const FilePath& templatePath, const FilePath& pagePath, std::string_view width,
                             std::string_view height)
{
    const std::string templateContext = "Cannot read the template " + templatePath.ToUtf8() + ".";
    const std::string pageContext = "Cannot write the page " + pagePath.ToUtf8() + ".";

    // A missing or unreadable template stops everything before the page is touched.
    std::unique_ptr<InputFile> templateFile;
    try {
        templateFile = std::make_unique<InputFile>(templatePath);
    } catch (const AppError& error) {
        throw InContext(error, templateContext);
    }

    // The new page replaces an older one only once it is whole; any failure before that leaves
    // the older page as it was.
    std::unique_ptr<AtomicFileWriter> page;
    try {
        page = std::make_unique<AtomicFileWriter>(pagePath);
    } catch (const AppError& error) {
        throw InContext(error, pageContext);
    }

    PageBuilder builder(width, height);
    std::string window(kWindow, '\0');
    size_t filled = 0;
    std::string pageText;  // the page's next bytes, written out a window at a time
    pageText.reserve(kWindow + kWindow / 4);
    pageText.append("\r\n");
    for (bool end = false; !end;) {
        size_t read = 0;
        try {
            read = templateFile->Read(window.data() + filled, window.size() - filled);
        } catch (const AppError& error) {
            throw InContext(error, templateContext);
        }
        end = read == 0;
        filled += read;
        const size_t used = builder.Feed(std::string_view(window.data(), filled), end, pageText);
        std::memmove(window.data(), window.data() + used, filled - used);
        filled -= used;
        if (filled == window.size())
            window.resize(window.size() * 2);  // one item longer than the window
        if (end)
            pageText.append("\r\n");
        if (pageText.size() >= kWindow || end) {
            try {
                page->Write(pageText);
            } catch (const AppError& error) {
                throw InContext(error, pageContext);
            }
            pageText.clear();
        }
    }
    try {
        page->Commit();
    } catch (const AppError& error) {
        throw InContext(error, pageContext);
    }
    return builder.LastItem();
}

}  // namespace tarnwick
