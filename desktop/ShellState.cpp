#include "desktop/ShellState.h"

#include <string_view>

namespace tarnwick {

std::vector<uint8_t> ShellStateBytes()
{
    // One byte more than there are items: the last byte stays 0.
    std::string_view text = kShellStateText;
    std::vector<std::string_view> items;
    for (size_t start = 0;;) {
        size_t space = text.find(' ', start);
        items.push_back(text.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
        if (space == std::string_view::npos)
            break;
        start = space + 1;
    }
    std::vector<uint8_t> bytes(items.size() + 1, 0);
    for (size_t i = 0; i < items.size(); ++i) {
        std::string_view digits = items[i].size() > 2 ? items[i].substr(items[i].size() - 2) : items[i];
        unsigned value = 0;
        for (char c : digits) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    return bytes;
}

}  // namespace tarnwick
