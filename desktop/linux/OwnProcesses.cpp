#include "desktop/linux/OwnProcesses.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace tarnwick {

std::vector<OwnProcess> OwnProcessesOf(const std::vector<std::string>& programs)
{
    std::vector<OwnProcess> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        struct stat info {};
        if (pid.find_first_not_of("0123456789") != std::string::npos || ::stat(("/proc/" + pid).c_str(), &info) != 0 ||
            info.st_uid != ::getuid())
            continue;
        std::vector<std::string> arguments = ProcessItems(pid, "cmdline");
        if (!arguments.empty() && std::find(programs.begin(), programs.end(), BaseName(arguments[0])) != programs.end())
            found.push_back({pid, std::move(arguments)});
    }
    ::closedir(proc);
    return found;
}

std::vector<std::string> ProcessItems(const std::string& pid, const char* file)
{
    std::ifstream in("/proc/" + pid + "/" + file, std::ios::binary);
    std::vector<std::string> items;
    for (std::string item; std::getline(in, item, '\0');)
        items.push_back(item);
    return items;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tarnwick
