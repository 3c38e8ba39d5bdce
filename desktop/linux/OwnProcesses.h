// This user's running processes, as /proc tells them: the desktops' own programs (pcmanfm
// --desktop, sway's swaybg) are found by their command lines.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

struct OwnProcess {
    std::string pid;
    std::vector<std::string> arguments;  // its command line, the program first
};

// The processes of this user whose command line names a program (its last path component) among
// programs; in no particular order.
std::vector<OwnProcess> OwnProcessesOf(const std::vector<std::string>& programs);

// The items of one of /proc/<pid>'s files that hold NUL-separated text (cmdline, environ); empty
// where it cannot be read.
std::vector<std::string> ProcessItems(const std::string& pid, const char* file);

// The path's last component.
std::string BaseName(const std::string& path);

}  // namespace tarnwick
