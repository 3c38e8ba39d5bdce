// sway's background: sway starts its background program (swaybg, or what its swaybg_command names)
// with each output's picture on the program's command line, `swaybg -o OUTPUT -i FILE -m MODE
// [-c COLOUR]...`, and takes `output * bg FILE stretch` on its IPC socket ($SWAYSOCK, the i3 IPC
// protocol's RUN_COMMAND). sway answers before the program has drawn anything and whether or not
// the program is installed, so the road looks for the program first, and afterwards for a running
// one of sway's whose command line shows the picture on every output. That command line also
// tells what was there before; where no such program runs, sway's config (`output NAME bg FILE
// MODE`, as GET_CONFIG gives it) does.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

class SwayBackground : public IDesktopBackground {
public:
    // One output's background as sway's background program takes it.
    struct Output {
        std::string output;  // "*" or the output's name
        std::string image;   // the picture's path; empty for a colour alone
        std::string mode;    // stretch, fill, fit, center, tile or solid_color
        std::string colour;  // "#rrggbb", may be empty
        friend bool operator==(const Output&, const Output&) = default;
    };

    // Null where SWAYSOCK names no socket sway answers on.
    static std::unique_ptr<SwayBackground> Open();
    ~SwayBackground() override;

    std::string Name() const override { return "sway's background (" + program_ + ")"; }
    // `output * bg PICTURE stretch`: the picture, drawn at the screen's size, on every output.
    void ShowPicture(const FilePath& picture) override;
    void ShowPlain(const FilePath& plainPicture) override;
    // Ours where an output of the newest background program of sway's shows one of our pictures;
    // where none runs, what sway's config names (then never ours). Saved: one output a line,
    // "<output>\t<image>\t<mode>\t<colour>".
    DesktopShows Shows(const IOurPictures& ours) override;
    // Every output gets back what saved holds (all of sway's outputs show the one picture we hand).
    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override;

    // What the background program's arguments (after its name) show, in their order.
    static std::vector<Output> ParseCommandLine(const std::vector<std::string>& arguments);
    // The backgrounds sway's config text sets (`output NAME bg FILE MODE [COLOUR]`, also inside
    // `output NAME { ... }`), with each FILE expanded as sway expands it; relative ones and ones
    // that do not expand to one word are left out.
    static std::vector<Output> ParseConfig(const std::string& config);
    // The background program its config names (swaybg_command), "swaybg" by default; "-" for none.
    static std::string ProgramOfConfig(const std::string& config);
    // A path as one word of sway's command: every ASCII byte other than letters, digits and
    // "/._-" escaped with a backslash (sway expands the word as a shell does). Throws AppError for
    // a control character, which no escape carries.
    static std::string QuotedForSway(const std::string& path);

private:
    SwayBackground(int socket, std::string socketPath, pid_t sway, std::string program)
        : socket_(socket), socketPath_(std::move(socketPath)), sway_(sway), program_(std::move(program))
    {
    }

    // Sends one message, waits for its answer and returns the answer's payload.
    std::string Ask(uint32_t type, const std::string& payload, const std::string& context) const;
    // The commands, one message; each must succeed.
    void Command(const std::string& commands, const std::string& context) const;
    // The running background programs of this sway, each as its outputs, the newest first.
    std::vector<std::vector<Output>> Running() const;
    // Hands sway the backgrounds and waits until its background program shows them.
    void Show(const std::vector<Output>& backgrounds, const std::string& context);

    int socket_;
    std::string socketPath_;
    pid_t sway_;
    std::string program_;  // swaybg_command's program, "swaybg" by default
};

std::unique_ptr<IDesktopBackground> OpenSwayBackground();

}  // namespace tarnwick
