// What the panel and its drawing process say to each other over two pipes. The panel writes one
// request a line to the process's standard input:
//     draw WIDTH HEIGHT RATIO BOUND-MS FILE-URI
// The process answers on its standard output, once, when its engine has started:
//     ready
// and to each request with one of
//     picture LENGTH        followed by LENGTH bytes of PNG
//     failed ERRNO LENGTH   followed by LENGTH bytes of UTF-8 saying why
// A picture reply may come after
//     pixels WIDTH HEIGHT STRIDE
// whose first byte carries a file descriptor (SCM_RIGHTS; the pipes are one Unix socket): a memfd
// sealed against shrinking and growing that holds the picture's rows from its start, 32-bit
// 0xffRRGGBB pixels, STRIDE bytes apart.
// The end of its standard input ends the process.
#pragma once

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::exchange {

struct Request {
    int width = 0;
    int height = 0;
    double ratio = 1.0;
    long long boundMs = 0;
    std::string uri;
};

inline std::string DrawRequest(const Request& request)
{
    char head[96];
    std::snprintf(head, sizeof head, "draw %d %d %.6f %lld ", request.width, request.height, request.ratio,
                  request.boundMs);
    return head + request.uri + "\n";
}

// One request line without its line end; nullopt when it is not one.
inline std::optional<Request> ParseRequest(const std::string& line)
{
    Request request;
    char uri[8192] = {};
    if (line.size() >= sizeof uri ||
        std::sscanf(line.c_str(), "draw %d %d %lf %lld %8191s", &request.width, &request.height, &request.ratio,
                    &request.boundMs, uri) != 5 ||
        request.width <= 0 || request.height <= 0 || request.ratio <= 0 || request.boundMs <= 0)
        return std::nullopt;
    request.uri = uri;
    return request;
}

inline std::string ReadyReply()
{
    return "ready\n";
}

inline std::string PictureReply(const std::string& png)
{
    return "picture " + std::to_string(png.size()) + "\n" + png;
}

inline std::string PixelsReply(int width, int height, size_t stride)
{
    return "pixels " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(stride) + "\n";
}

inline std::string FailureReply(int number, const std::string& why)
{
    return "failed " + std::to_string(number) + " " + std::to_string(why.size()) + "\n" + why;
}

struct Reply {
    enum class Kind { Ready, Pixels, Picture, Failed } kind = Kind::Ready;
    int number = 0;
    std::string body;
    int width = 0;  // of pixels
    int height = 0;
    size_t stride = 0;
};

// Takes one whole reply off the front of what has arrived; nullopt while it is incomplete.
// A reply that cannot be read sets malformed.
inline std::optional<Reply> TakeReply(std::string& arrived, bool& malformed)
{
    const size_t end = arrived.find('\n');
    if (end == std::string::npos) {
        malformed = arrived.size() > 64;
        return std::nullopt;
    }
    const std::string_view head(arrived.data(), end);
    Reply reply;
    size_t length = 0;
    auto number = [](std::string_view text, auto& value) {
        auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && rest == text.data() + text.size();
    };
    if (head == "ready") {
        arrived.erase(0, end + 1);
        return reply;
    }
    if (head.starts_with("pixels ")) {
        const std::string_view rest = head.substr(7);
        const size_t first = rest.find(' ');
        const size_t second = first == std::string_view::npos ? first : rest.find(' ', first + 1);
        if (second == std::string_view::npos || !number(rest.substr(0, first), reply.width) ||
            !number(rest.substr(first + 1, second - first - 1), reply.height) ||
            !number(rest.substr(second + 1), reply.stride) || reply.width <= 0 || reply.height <= 0 ||
            reply.stride < 4 * static_cast<size_t>(reply.width)) {
            malformed = true;
            return std::nullopt;
        }
        reply.kind = Reply::Kind::Pixels;
        arrived.erase(0, end + 1);
        return reply;
    }
    if (head.starts_with("picture ") && number(head.substr(8), length)) {
        reply.kind = Reply::Kind::Picture;
    } else if (head.starts_with("failed ")) {
        const std::string_view rest = head.substr(7);
        const size_t space = rest.find(' ');
        if (space == std::string_view::npos || !number(rest.substr(0, space), reply.number) ||
            !number(rest.substr(space + 1), length)) {
            malformed = true;
            return std::nullopt;
        }
        reply.kind = Reply::Kind::Failed;
    } else {
        malformed = true;
        return std::nullopt;
    }
    if (arrived.size() - (end + 1) < length)
        return std::nullopt;
    reply.body = arrived.substr(end + 1, length);
    arrived.erase(0, end + 1 + length);
    return reply;
}

}  // namespace tarnwick::exchange
