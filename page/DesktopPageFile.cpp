// The page file: the template streamed into a new page, which replaces the older one once whole.
#include <cstring>
#include <optional>

#include "base/AppError.h"
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
    const std::string context = "Cannot write the page " + pagePath.ToUtf8() + ".";
    std::optional<AtomicFileWriter> writer;
    try {
        writer.emplace(pagePath, context);
    } catch (const AppError& error) {
        // A program folder under Program Files, or any this user may only read: say why, and
        // what to do.
        if (error.Number() != kErrorNoAccess)
            throw;
        throw AppError(error.Number(), error.Description(),
                       context + " This user may not write in the program's folder: keep the program in a folder "
                                 "this user may write, such as one in Documents.");
    }
    AtomicFileWriter& page = *writer;

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
