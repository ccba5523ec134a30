// The GNU ddrescue mapfile from the command line: `gleanor mapfile`, what
// `copy --mapfile` keeps current, and `import --mapfile MAP --from IMAGE`.
#include <filesystem>

#include "cli/commands.h"
#include "cli/image_set_name.h"
#include "mapfile/mapfile.h"
#include "channel/channel.h"

#ifndef GLEANOR_VERSION
#error "GLEANOR_VERSION comes from the build"
#endif

namespace fs = std::filesystem;

namespace {

using std::chrono::milliseconds;

constexpr const char kFlagExtension[] = "flg";

// The one flag file in `folder`, or "" (with the reason in *error).
std::string OnlyFlagFile(const std::string& folder, std::string* error)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const fs::directory_entry& d : fs::directory_iterator(folder, ec)) {
        if (d.path().extension() == std::string(".") + kFlagExtension && d.is_regular_file(ec))
            found.push_back(d.path().filename());
    }
    if (found.size() == 1) return folder + found[0];
    *error = found.empty() ? "no flag file (*.flg) in " + folder
                           : "more than one flag file in " + folder + ": name the image set with --image";
    return "";
}

}  // namespace

std::string ProgramTitle()
{
    return std::string("Gleanor ") + GLEANOR_VERSION;
}

int RunMapfile(CFrontEnd& fe)
{
    const Options& o = fe.Opts();
    const ImageSetNames set = ImageSetFromName(o.flagFile);
    const std::string& flag = set.flag;
    MapfileInfo info;
    info.program = ProgramTitle();
    info.image = set.image;
    std::string error;
    bool ok = false;
    if (o.output.empty()) {
        ok = WriteMapfile(flag.c_str(), info, fe.Io().out, &error);
    } else {
        ok = SaveMapfile(flag.c_str(), info, o.output.c_str(), &error);
    }
    if (!ok) {
        fe.Error(error);
        return kExitCouldNot;
    }
    return kExitDone;
}

int RunMapImport(CFrontEnd& fe)
{
    const Options& o = fe.Opts();
    CRecoveryEngine& e = fe.Engine();
    const std::string dest = FolderWithSeparator(o.dest);
    std::string error;
    std::string flag = o.image.empty() ? OnlyFlagFile(dest, &error)
                                       : ImageSetFromName(ResolveImagePath(o.image, dest)).flag;
    if (flag.empty()) {
        fe.Error(error);
        return kExitCouldNot;
    }
    if (flag.size() > size_t(rawio::kMaxPath)) {
        fe.Error("the path " + flag + " is too long: image set paths hold at most 260 characters");
        return kExitUsage;
    }
    Mapfile map;
    if (!LoadMapfile(o.mapfile.c_str(), &map, &error)) {
        fe.Error(error);
        return kExitCouldNot;
    }
    e.flagFile.SetPath(flag.c_str());
    e.imageFile.SetPath(ImageSetFromName(flag).image.c_str());
    std::error_code ec;
    if (fs::equivalent(o.fromImage, e.imageFile.GetPath(), ec)) {
        fe.Error(o.fromImage + " is the image set's own image: --from names ddrescue's output file");
        return kExitCouldNot;
    }
    MapImportTally tally;
    bool done = ImportMapfile(e, map, o.fromImage.c_str(), &tally);
    fe.Pump(milliseconds(0));
    return done ? kExitDone : kExitCouldNot;
}
