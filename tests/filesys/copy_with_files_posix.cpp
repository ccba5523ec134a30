// A copy of a simulated disc with a file system: the size forced from the
// file system, and the summary of the rescued files at the end.
#include "cli/dispatch.h"
#include "filesys/image_tools.h"

namespace {

std::string Text(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CopyWithFiles, ForcedToTheFileSystemsSizeAndEndingWithTheFilesSummary)
{
    CTempDir dir;
    // The drive reports 500 sectors fewer than the volume holds, and the end
    // of the last file lies beyond what it reports.
    std::ofstream(dir.File("disc.sim")) << "label FS_DISC\nsectors 3000\ncapacity 2499\n"
                                           "file docs/a.txt 10000\nfile big.bin 5800000\n";
    for (bool force : {false, true}) {
        CTempDir dest;
        Options o;
        o.command = Command::Copy;
        o.sims = {dir.File("disc.sim")};
        o.virtualClock = true;
        o.dest = dest.Path();
        o.destSet = true;
        o.yesToAll = true;
        if (force) o.force = ForceSource::FileSystem;
        CliIo io;
        io.out = std::fopen(dest.File("out").c_str(), "w");
        io.err = std::fopen(dest.File("err").c_str(), "w");
        int status = RunGleanor(o, io);
        std::fclose(io.out);
        std::fclose(io.err);
        std::string out = Text(dest.File("out")), err = Text(dest.File("err"));
        EXPECT_EQ(status, OUTCOME_OK) << err;
        if (force) {
            EXPECT_NE(err.find("Disksize changed to \"File System\" (3000 Sectors)"), std::string::npos) << err;
            EXPECT_NE(out.find("files: 2 complete, 0 damaged, 0 unknown\n"), std::string::npos) << out;
        } else {
            EXPECT_NE(out.find("files: 1 complete, 1 damaged, 0 unknown (gleanor files " + dest.File("FS_DISC.flg") +
                               " lists them)"),
                      std::string::npos)
                << out;
        }
    }
}

}  // namespace
