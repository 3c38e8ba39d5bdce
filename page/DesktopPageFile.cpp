// The page file: the template streamed into a new page, which replaces the older one once whole.
#include <cstring>

#include "base/FileIO.h"
#include "page/DesktopPage.h"

namespace tarnwick {

namespace {

// The template is read, and the page written, a window at a time: memory stays small whatever
// the template's size, and the data stays in the processor's caches.
constexpr size_t kWindow = size_t{1} << 20;

}  // namespace

std::string WriteDesktopPage(const FilePath& templatePath, const FilePath& pagePath, std::string_view width,
                             std::string_view height)
{
    // A missing or unreadable template stops everything before the page is touched.
    InputFile templateFile(templatePath, "Cannot read the template " + templatePath.ToUtf8() + ".");

    // The new page replaces an older one only once it is whole; any failure before that leaves
    // the older page as it was.
    AtomicFileWriter page(pagePath, "Cannot write the page " + pagePath.ToUtf8() + ".");

    PageBuilder builder(width, height);
    std::string window(kWindow, '\0');
    size_t filled = 0;
    std::string pageText;  // the page's next bytes, written out a window at a time
    pageText.reserve(kWindow + kWindow / 4);
    pageText.append("\r\n");
    for (bool end = false; !end;) {
        const size_t read = templateFile.Read(window.data() + filled, window.size() - filled);
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
            page.Write(pageText);
            pageText.clear();
        }
    }
    page.Commit();
    return builder.LastItem();
}

}  // namespace tarnwick
