#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cli/drive_hints.h"

namespace {

constexpr const char kSgPattern[] = "/dev/sg*";

std::string GroupOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    // /etc/group read directly: the C library's group lookup cannot be linked
    // into the static program (it loads name-service modules at run time).
    std::ifstream groups("/etc/group");
    std::string line;
    while (std::getline(groups, line)) {  // name:password:gid:members
        size_t a = line.find(':'), b = line.find(':', a == std::string::npos ? a : a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        size_t c = line.find(':', b + 1);
        if (line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1) == std::to_string(st.st_gid))
            return line.substr(0, a);
    }
    return "";
}

}  // namespace

std::vector<std::string> NoDriveHints()
{
    std::vector<std::string> hints;
    glob_t found{};
    int rc = glob(kSgPattern, 0, nullptr, &found);
    std::vector<std::string> devices;
    if (rc == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i) devices.push_back(found.gl_pathv[i]);
    globfree(&found);
    if (devices.empty()) {
        hints.push_back("There is no /dev/sg* device: the sg module may not be loaded (sudo modprobe sg),");
        hints.push_back("or no CD/DVD drive is connected.");
        return hints;
    }
    std::vector<std::string> denied;
    for (const std::string& d : devices)
        if (access(d.c_str(), R_OK | W_OK) != 0) denied.push_back(d);
    if (denied.empty()) return hints;
    std::string group = GroupOf(denied.front());
    hints.push_back("Permission denied on " + denied.front() + (denied.size() > 1 ? " and others" : "") +
                    ": run as root" + (group.empty() || group == "root" ? std::string(".")
                                                                           : ", or join the group " + group +
                                                                                 " (sudo adduser $USER " + group +
                                                                                 ", then log in again)."));
    return hints;
}
