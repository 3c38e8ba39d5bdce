#include "desktop/linux/SwayBackground.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wordexp.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "base/AppError.h"
#include "desktop/linux/BusCall.h"
#include "desktop/linux/OwnProcesses.h"

namespace tarnwick {

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr size_t kMagicSize = 6;
constexpr uint32_t kRunCommand = 0;
constexpr uint32_t kGetVersion = 7;
constexpr uint32_t kGetConfig = 9;
// How long sway may take to answer one message.
constexpr auto kAnswerBound = std::chrono::seconds(5);
// How long its background program may take to start with the new pictures, and how long it must
// then keep running: one that cannot read its picture ends at once.
constexpr auto kShowBound = std::chrono::seconds(10);
constexpr auto kSettle = std::chrono::milliseconds(500);

AppError SwayFailure(uint32_t number, const std::string& what)
{
    return AppError(number, DescribeSystemError(number), "The desktop wallpaper could not be set: " + what);
}

bool IsMode(const std::string& word)
{
    static const char* const kModes[] = {"stretch", "fill", "fit", "center", "tile", "solid_color"};
    return std::any_of(std::begin(kModes), std::end(kModes), [&](const char* mode) { return word == mode; });
}

bool IsColour(const std::string& word)
{
    return (word.size() == 7 || word.size() == 9) && word[0] == '#' &&
           word.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
}

// sway's config words: split at blanks, a quoted run kept together without its quotes.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

// The file as sway expands it (a shell's expansion without commands); empty unless it is one
// absolute path.
std::string Expanded(const std::string& file)
{
    wordexp_t words{};
    std::string path;
    if (wordexp(file.c_str(), &words, WRDE_NOCMD) == 0 && words.we_wordc == 1 && words.we_wordv[0][0] == '/')
        path = words.we_wordv[0];
    if (words.we_wordv != nullptr)
        wordfree(&words);
    return path;
}

// The background in `bg FILE MODE [COLOUR]` / `bg COLOUR solid_color` (the words after bg).
bool BackgroundOf(const std::vector<std::string>& words, SwayBackground::Output& output)
{
    if (words.size() >= 2 && words[1] == "solid_color") {
        if (!IsColour(words[0]))
            return false;
        output.mode = "solid_color";
        output.colour = words[0];
        return true;
    }
    const auto mode = std::find_if(words.begin(), words.end(), IsMode);
    if (mode == words.begin() || mode == words.end() || *mode == "solid_color")
        return false;
    std::string file;
    for (auto word = words.begin(); word != mode; ++word)
        file += (file.empty() ? "" : " ") + *word;
    output.image = Expanded(file);
    output.mode = *mode;
    if (mode + 1 != words.end() && IsColour(*(mode + 1)))
        output.colour = *(mode + 1);
    return !output.image.empty();
}

// sway's `set $name value` variables put into the line, the longest names first.
std::string WithVariables(std::string line, const std::vector<std::pair<std::string, std::string>>& variables)
{
    for (const auto& [name, value] : variables)
        for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + value.size()))
            line.replace(at, name.size(), value);
    return line;
}

bool Safe(const std::string& field)
{
    return field.find_first_of("\t\n") == std::string::npos;
}

// The outputs show the wanted backgrounds: each wanted one is there, and no output shows a
// picture other than the wanted ones.
bool ShowsAll(const std::vector<SwayBackground::Output>& running, const std::vector<SwayBackground::Output>& wanted)
{
    for (const SwayBackground::Output& want : wanted) {
        const bool there = std::any_of(running.begin(), running.end(), [&](const SwayBackground::Output& is) {
            return is.output == want.output && is.image == want.image &&
                   (!want.image.empty() || is.colour == want.colour);
        });
        if (!there)
            return false;
    }
    return std::all_of(running.begin(), running.end(), [&](const SwayBackground::Output& is) {
        return is.image.empty() || std::any_of(wanted.begin(), wanted.end(), [&](const SwayBackground::Output& want) {
                   return want.image == is.image;
               });
    });
}

// The output's name as one word of sway's command: as it is, or in double quotes (a name made of
// the monitor's make, model and serial has blanks).
std::string OutputWord(const std::string& name)
{
    if (!name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789*_.-") ==
                             std::string::npos)
        return name;
    if (name.find_first_of("\"\\") != std::string::npos || name.empty())
        throw SwayFailure(EINVAL, "sway cannot be handed a background for the output \"" + name + "\".");
    return "\"" + name + "\"";
}

std::string CommandOf(const std::vector<SwayBackground::Output>& backgrounds)
{
    std::string commands;
    for (const SwayBackground::Output& background : backgrounds) {
        commands += (commands.empty() ? "output " : "; output ") + OutputWord(background.output) + " bg ";
        if (background.image.empty()) {
            commands += background.colour + " solid_color";
            continue;
        }
        commands += SwayBackground::QuotedForSway(background.image) + " " + background.mode;
        if (!background.colour.empty())
            commands += " " + background.colour;
    }
    return commands;
}

// Waits the time out, the program's windows painted meanwhile.
void Pause(std::chrono::milliseconds time)
{
    PauseKeepingWindowsPainted(time);
}

}  // namespace

std::unique_ptr<SwayBackground> SwayBackground::Open()
{
    const char* path = std::getenv("SWAYSOCK");
    if (path == nullptr || *path == '\0')
        return nullptr;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path)
        return nullptr;
    std::strcpy(address.sun_path, path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return nullptr;
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0) {
        ::close(socket);
        return nullptr;
    }
    std::unique_ptr<SwayBackground> sway(new SwayBackground(socket, path, peer.pid, "swaybg"));
    try {
        const QJsonDocument version =
            QJsonDocument::fromJson(QByteArray::fromStdString(sway->Ask(kGetVersion, "", "")));
        if (!version.object().contains(QStringLiteral("major")))
            return nullptr;
        const QJsonDocument config = QJsonDocument::fromJson(QByteArray::fromStdString(sway->Ask(kGetConfig, "", "")));
        sway->program_ = ProgramOfConfig(config.object().value(QStringLiteral("config")).toString().toStdString());
    } catch (const AppError&) {
        return nullptr;
    }
    return sway;
}

SwayBackground::~SwayBackground()
{
    ::close(socket_);
}

std::string SwayBackground::Ask(uint32_t type, const std::string& payload, const std::string& context) const
{
    std::string message(kMagic, kMagicSize);
    const uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message += payload;
    for (size_t sent = 0; sent < message.size();) {
        const ssize_t n = ::send(socket_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw SwayFailure(static_cast<uint32_t>(errno),
                              context + " sway's IPC socket " + socketPath_ + " does not take the message.");
        sent += static_cast<size_t>(n);
    }
    const auto until = std::chrono::steady_clock::now() + kAnswerBound;
    const auto read = [&](size_t size) {
        std::string bytes;
        while (bytes.size() < size) {
            pollfd ready{socket_, POLLIN, 0};
            if (::poll(&ready, 1, 20) == 0) {
                if (std::chrono::steady_clock::now() > until)
                    throw SwayFailure(ETIMEDOUT,
                                      context + " sway did not answer on its IPC socket " + socketPath_ + ".");
                Pause(std::chrono::milliseconds(0));
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(socket_, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw SwayFailure(n == 0 ? ECONNRESET : static_cast<uint32_t>(errno),
                                  context + " sway closed its IPC socket " + socketPath_ + ".");
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return bytes;
    };
    const std::string head = read(kMagicSize + sizeof header);
    uint32_t answer[2] = {};
    std::memcpy(answer, head.data() + kMagicSize, sizeof answer);
    if (head.compare(0, kMagicSize, kMagic) != 0 || answer[1] != type || answer[0] > (64u << 20))
        throw SwayFailure(EPROTO, context + " sway's IPC socket " + socketPath_ + " answered what sway does not.");
    return read(answer[0]);
}

void SwayBackground::Command(const std::string& commands, const std::string& context) const
{
    const QJsonDocument answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(Ask(kRunCommand, commands, context)));
    const QJsonArray results = answer.array();
    if (results.isEmpty())
        throw SwayFailure(EPROTO, context + " sway gave no answer to `" + commands + "`.");
    for (const QJsonValue& result : results)
        if (!result.toObject().value(QStringLiteral("success")).toBool())
            throw SwayFailure(EINVAL, context + " sway refused `" + commands + "`: " +
                                          result.toObject().value(QStringLiteral("error")).toString().toStdString());
}

std::vector<std::vector<SwayBackground::Output>> SwayBackground::Running() const
{
    std::vector<std::pair<unsigned long long, std::vector<Output>>> started;
    const std::string socket = "SWAYSOCK=" + socketPath_;
    for (OwnProcess& process : OwnProcessesOf({BaseName(program_)})) {
        const std::vector<std::string> environment = ProcessItems(process.pid, "environ");
        if (std::find(environment.begin(), environment.end(), socket) == environment.end())
            continue;
        // Its start time, the 22nd field of its stat, after the name in parentheses.
        std::ifstream statFile("/proc/" + process.pid + "/stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 1)));
        std::string field;
        for (int i = 3; i <= 22 && fields >> field; ++i) {
        }
        process.arguments.erase(process.arguments.begin());
        started.emplace_back(std::strtoull(field.c_str(), nullptr, 10), ParseCommandLine(process.arguments));
    }
    std::sort(started.begin(), started.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::vector<Output>> running;
    for (auto& [time, outputs] : started)
        running.push_back(std::move(outputs));
    return running;
}

void SwayBackground::Show(const std::vector<Output>& backgrounds, const std::string& context)
{
    if (program_ == "-")
        throw SwayFailure(ENOTSUP, context + " sway's config turns its background program off (swaybg_command -).");
    // Found where sway looks for it: on sway's own PATH.
    bool installed = false;
    if (program_.find('/') != std::string::npos) {
        installed = ::access(program_.c_str(), X_OK) == 0;
    } else {
        std::string path = "/usr/local/bin:/usr/bin:/bin";
        if (const char* own = std::getenv("PATH"))
            path = own;
        for (const std::string& variable : ProcessItems(std::to_string(sway_), "environ"))
            if (variable.rfind("PATH=", 0) == 0)
                path = variable.substr(5);
        std::istringstream folders(path);
        for (std::string folder; !installed && std::getline(folders, folder, ':');)
            installed = !folder.empty() && ::access((folder + "/" + program_).c_str(), X_OK) == 0;
    }
    if (!installed)
        throw SwayFailure(ENOENT, context + " sway draws its background with " + program_ +
                                      ", which is not installed (not on sway's PATH). Nothing on the desktop was "
                                      "changed.");
    const std::string commands = CommandOf(backgrounds);
    const std::vector<std::vector<Output>> before = Running();
    Command(commands, context);

    const auto until = std::chrono::steady_clock::now() + kShowBound;
    while (true) {
        const std::vector<std::vector<Output>> now = Running();
        if (std::any_of(now.begin(), now.end(),
                        [&](const std::vector<Output>& shown) { return ShowsAll(shown, backgrounds); })) {
            Pause(kSettle);
            const std::vector<std::vector<Output>> settled = Running();
            if (std::any_of(settled.begin(), settled.end(),
                            [&](const std::vector<Output>& shown) { return ShowsAll(shown, backgrounds); }))
                return;
        }
        if (std::chrono::steady_clock::now() > until)
            break;
        Pause(std::chrono::milliseconds(50));
    }
    // Back to what was shown, where a background program showed something.
    if (!before.empty() && !before.front().empty()) {
        try {
            Command(CommandOf(before.front()), context);
        } catch (const AppError&) {
            // The picture's failure is the one reported.
        }
    }
    throw SwayFailure(EIO, context + " sway took `" + commands + "`, but its background program " + program_ +
                               " does not show it (no " + program_ + " of sway's runs with the picture).");
}

void SwayBackground::ShowPicture(const FilePath& picture)
{
    Show({{"*", picture.Native(), "stretch", ""}},
         "Cannot make the picture " + picture.ToUtf8() + " sway's background.");
}

void SwayBackground::ShowPlain(const FilePath& plainPicture)
{
    Show({{"*", plainPicture.Native(), "stretch", ""}},
         "Cannot take the page off sway's background (the plain picture " + plainPicture.ToUtf8() + ").");
}

DesktopShows SwayBackground::Shows(const IOurPictures& ours)
{
    std::vector<std::vector<Output>> running = Running();
    if (running.empty()) {
        // sway may be starting its background program again just now.
        Pause(std::chrono::milliseconds(300));
        running = Running();
    }
    std::vector<Output> shown = running.empty() ? std::vector<Output>() : running.front();
    const bool ourOwn = std::any_of(shown.begin(), shown.end(),
                                    [&](const Output& output) { return ours.Holds(FilePath(output.image)); });
    if (shown.empty()) {
        const QJsonDocument config = QJsonDocument::fromJson(
            QByteArray::fromStdString(Ask(kGetConfig, "", "Cannot read what sway's background is.")));
        shown = ParseConfig(config.object().value(QStringLiteral("config")).toString().toStdString());
    }
    const DesktopShows::Whose whose = ourOwn ? DesktopShows::Whose::ours : DesktopShows::Whose::theirs;
    std::string saved;
    for (const Output& output : shown) {
        if (!Safe(output.output) || !Safe(output.image))
            return {whose, {}};  // a name no line can hold: Close shows the plain picture
        saved += output.output + '\t' + output.image + '\t' + output.mode + '\t' + output.colour + '\n';
    }
    return {whose, saved};
}

void SwayBackground::Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours)
{
    (void)ours;  // the one picture on every output, which the caller found ours
    std::vector<Output> outputs;
    std::istringstream lines(saved);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            fields.push_back(field);
        if (line.ends_with('\t'))
            fields.emplace_back();
        Output output;
        if (fields.size() == 4)
            output = {fields[0], fields[1], fields[2], fields[3]};
        if (fields.size() != 4 || output.output.empty() || !IsMode(output.mode) ||
            (!output.colour.empty() && !IsColour(output.colour)) ||
            (output.image.empty() != (output.mode == "solid_color"))) {
            ShowPlain(plainPicture);  // not what SaveCurrent wrote
            return;
        }
        outputs.push_back(std::move(output));
    }
    if (outputs.empty()) {
        ShowPlain(plainPicture);
        return;
    }
    Show(outputs, "Cannot give sway its earlier background back.");
}

std::vector<SwayBackground::Output> SwayBackground::ParseCommandLine(const std::vector<std::string>& arguments)
{
    std::vector<Output> outputs;
    Output current{"*", "", "", ""};
    const auto finish = [&] {
        if (!current.image.empty() || !current.colour.empty())
            outputs.push_back(current);
    };
    for (size_t i = 0; i + 1 < arguments.size(); i += 2) {
        const std::string& option = arguments[i];
        const std::string& value = arguments[i + 1];
        if (option == "-o" || option == "--output") {
            finish();
            current = {value, "", "", ""};
        } else if (option == "-i" || option == "--image") {
            current.image = value;
        } else if (option == "-m" || option == "--mode") {
            current.mode = value;
        } else if (option == "-c" || option == "--color") {
            current.colour = value;
        } else {
            --i;  // an option without a value
        }
    }
    finish();
    for (Output& output : outputs)
        if (output.mode.empty())
            output.mode = output.image.empty() ? "solid_color" : "stretch";
    return outputs;
}

std::vector<SwayBackground::Output> SwayBackground::ParseConfig(const std::string& config)
{
    std::vector<Output> outputs;
    std::vector<std::pair<std::string, std::string>> variables;
    std::string block;  // the output whose `output NAME {` block the line is in
    std::istringstream lines(config);
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        std::vector<std::string> words = Words(WithVariables(line.substr(start), variables));
        if (words.size() >= 3 && words[0] == "set" && words[1].size() > 1 && words[1][0] == '$') {
            std::string value;
            for (size_t i = 2; i < words.size(); ++i)
                value += (i > 2 ? " " : "") + words[i];
            variables.emplace_back(words[1], value);
            std::sort(variables.begin(), variables.end(),
                      [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
            continue;
        }
        if (words.empty())
            continue;
        if (words.front() == "}") {
            block.clear();
            continue;
        }
        std::string name = block;
        size_t first = 0;
        if (words[0] == "output" && words.size() >= 2) {
            name = words[1];
            first = 2;
            if (words.size() == 3 && words[2] == "{") {
                block = name;
                continue;
            }
        } else if (block.empty()) {
            continue;
        }
        for (size_t i = first; i < words.size(); ++i) {
            if (words[i] != "bg" && words[i] != "background")
                continue;
            Output output{name, "", "", ""};
            if (BackgroundOf(std::vector<std::string>(words.begin() + static_cast<long>(i) + 1, words.end()), output)) {
                const auto same = std::find_if(outputs.begin(), outputs.end(),
                                               [&](const Output& o) { return o.output == output.output; });
                if (same != outputs.end())
                    *same = output;  // the later line wins, as in sway
                else
                    outputs.push_back(output);
            }
            break;
        }
    }
    return outputs;
}

std::string SwayBackground::ProgramOfConfig(const std::string& config)
{
    std::string program = "swaybg";
    std::istringstream lines(config);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> words = Words(line);
        if (words.size() >= 2 && words[0] == "swaybg_command")
            program = words[1];
    }
    return program;
}

std::string SwayBackground::QuotedForSway(const std::string& path)
{
    std::string word;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            throw SwayFailure(EINVAL, "sway cannot be handed the picture " + path +
                                          ": its path holds a control character, which sway's command cannot carry.");
        if (byte < 0x80 && !std::isalnum(byte) && c != '/' && c != '.' && c != '_' && c != '-')
            word += '\\';
        word += c;
    }
    return word;
}

std::unique_ptr<IDesktopBackground> OpenSwayBackground()
{
    return SwayBackground::Open();
}

}  // namespace tarnwick
