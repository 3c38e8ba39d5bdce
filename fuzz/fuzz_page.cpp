// libFuzzer target: template bytes through TemplateReader and BuildPageText, checked against a
// slow reference written straight from the documented reading and substitution rules.
//
// Input: the first byte picks the width and height texts (some chosen to make a second search
// of inserted text visible), the rest is the template.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "page/DesktopPage.h"

namespace {

using tarnwick::AppendSubstituted;
using tarnwick::BuildPageText;
using tarnwick::PageResult;
using tarnwick::TemplateReader;

[[noreturn]] void Fail(const char* what, std::string_view detail = {})
{
    std::fprintf(stderr, "fuzz_page: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  detail: [%.*s]\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// Every "800" becomes width and every "600" height, leftmost first; the scan goes on after the
// inserted text, so inserted text is never looked at again.
std::string ReferenceSubstitute(std::string_view text, std::string_view width, std::string_view height)
{
    std::string out;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const bool placeholder =
            i + 2 < n && (text[i] == '8' || text[i] == '6') && text[i + 1] == '0' && text[i + 2] == '0';
        if (placeholder) {
            out += text[i] == '8' ? width : height;
            i += 3;
        } else {
            out += text[i];
            i += 1;
        }
    }
    return out;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// The items of a template, one character at a time, following the rules in DesktopPage.h.
std::vector<std::string> ReferenceItems(std::string_view text)
{
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    // Consumes one delimiter (a comma or a line end, CR LF counting as one) at i, if any.
    auto skipDelimiter = [&]() {
        if (i >= n)
            return;
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
            i += 2;
        else
            i += 1;
    };
    while (i < n) {  // text remains: there is one more item
        while (i < n && IsBlank(text[i]))
            ++i;
        std::string item;
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n && text[i] != '"')
                item += text[i++];
            if (i < n) {
                ++i;  // the closing quote
                while (i < n && text[i] != ',' && !IsLineEnd(text[i]))
                    ++i;  // dropped
                skipDelimiter();
            }
        } else {
            while (i < n && text[i] != ',' && !IsLineEnd(text[i]))
                item += text[i++];
            while (!item.empty() && IsBlank(item.back()))
                item.pop_back();
            skipDelimiter();
        }
        items.push_back(item);
    }
    return items;
}

size_t Count(std::string_view text, std::string_view what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

struct Texts {
    const char* width;
    const char* height;
};

// "W"/"H" hold no digit: no "800" or "600" may be left anywhere. The others would show text
// searched twice ("8" + "00", inserted "600" read again) or dropped.
constexpr Texts kTexts[] = {
    {"W", "H"}, {"1024", "768"}, {"600", "800"}, {"8", "00"}, {"80", "0"}, {"6", "0"}, {"", ""}, {"0", "8"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const Texts& texts = kTexts[data[0] % (sizeof kTexts / sizeof kTexts[0])];
    const std::string_view width = texts.width, height = texts.height;
    const std::string_view templateText(reinterpret_cast<const char*>(data + 1), size - 1);

    // The substitution alone, on the whole input (long runs of digits, no item splitting).
    {
        std::string out = "prefix";
        AppendSubstituted(out, templateText, width, height);
        if (out != "prefix" + ReferenceSubstitute(templateText, width, height))
            Fail("AppendSubstituted differs from the reference", out);
    }

    // The reader, item by item, against the reference reader.
    const std::vector<std::string> expectedItems = ReferenceItems(templateText);
    size_t readerItems = 0;
    {
        TemplateReader reader(templateText);
        while (!reader.AtEnd()) {
            std::string_view item = reader.ReadItem();
            if (readerItems >= expectedItems.size())
                Fail("the reader gives more items than the rules allow", item);
            if (item != expectedItems[readerItems])
                Fail("an item differs from the rules", item);
            ++readerItems;
        }
        if (readerItems != expectedItems.size())
            Fail("the reader gives fewer items than the rules allow");
    }

    // The whole page.
    const PageResult page = BuildPageText(templateText, width, height);
    std::string expectedPage;
    for (const std::string& item : expectedItems)
        expectedPage += ReferenceSubstitute(item, width, height) + "\r\n";
    if (page.pageText != expectedPage)
        Fail("the page text differs from the reference", page.pageText);
    if (page.lastItem != (expectedItems.empty() ? std::string() : expectedItems.back()))
        Fail("lastItem is not the last item read", page.lastItem);

    // The program reads the template a window at a time: any window size gives the same page.
    {
        const size_t windowSize = 1 + (data != nullptr && size > 0 ? data[size - 1] % 17 : 0);
        tarnwick::PageBuilder builder(width, height);
        std::string windowed, window;
        size_t offered = 0;
        for (bool end = false; !end;) {
            const size_t take = std::min(windowSize, templateText.size() - offered);
            window.append(templateText, offered, take);
            offered += take;
            end = take == 0;
            window.erase(0, builder.Feed(window, end, windowed));
        }
        if (windowed != page.pageText)
            Fail("reading in windows changes the page", windowed);
        if (builder.LastItem() != page.lastItem)
            Fail("reading in windows changes the last item", builder.LastItem());
    }

    // As written: CR LF, the page text, CR LF. Each item adds one line end; the only others are
    // the two around the page and those inside quoted items.
    const std::string file = "\r\n" + page.pageText + "\r\n";
    size_t inside = 0;
    for (const std::string& item : expectedItems)
        inside += Count(ReferenceSubstitute(item, width, height), "\r\n");
    if (Count(file, "\r\n") != readerItems + 2 + inside)
        Fail("the page's line ends do not match its items");

    if (width == "W" && height == "H" &&
        (file.find("800") != std::string::npos || file.find("600") != std::string::npos))
        Fail("a placeholder survived", file);
    return 0;
}
