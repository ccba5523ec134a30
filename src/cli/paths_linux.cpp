// Paths on Linux: /proc/self/exe and mkdtemp.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "cli/paths.h"
#include "platform/rawio.h"

namespace {
constexpr int kParentsSearched = 4;  // build/src/cli/gleanor is three below the tree
constexpr const char kInstalledDocs[] = "share/doc/gleanor";  // beside PREFIX/bin, where a package puts them
}

std::string ExecutableDir()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    std::string path(buffer, size_t(n));
    size_t sep = path.rfind('/');
    return sep == std::string::npos ? "" : path.substr(0, sep + 1);
}

std::string MakeTempFolder(const std::string& prefix)
{
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    std::string templ = base + "/" + prefix + "XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return "";
    return std::string(name.data()) + "/";
}

std::string PathWithFolder(const std::string& path)
{
    if (path.find(rawio::kSep) != std::string::npos) return path;
    return std::string(".") + rawio::kSep + path;
}

std::string FindBundledFile(const std::string& relative)
{
    std::vector<std::string> roots;
    std::string exeDir = ExecutableDir();
    // An installed program takes its own files, wherever it was built.
    if (!exeDir.empty())
        roots.push_back((std::filesystem::path(exeDir).parent_path().parent_path() / kInstalledDocs).string());
#ifdef GLEANOR_CLI_SOURCE_DIR
    roots.push_back(GLEANOR_CLI_SOURCE_DIR);
#endif
    if (const char* env = getenv("GLEANOR_SOURCE_DIR")) roots.push_back(env);
    if (!exeDir.empty()) {
        std::filesystem::path dir = std::filesystem::path(exeDir).parent_path();  // drops the trailing '/'
        for (int i = 0; i <= kParentsSearched; ++i) {
            roots.push_back(dir.string());
            if (dir == dir.parent_path()) break;
            dir = dir.parent_path();
        }
    }
    for (const std::string& root : roots) {
        std::error_code ec;
        std::filesystem::path candidate = std::filesystem::path(root) / relative;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
    }
    return "";
}
