// Figures of `gleanor copy` on simulated discs, one line each:
//   throughput  a healthy 1 GiB disc, zero drive latency, against dd bs=32k
//   resume      a pass over a fully read single-layer DVD flag file
//   memory      peak resident set on 700 MB and 4.7 GB discs
//   flush       a 1 GiB copy with and without the periodic fdatasync
// Usage: bench_gleanor [FIGURE...] (all when none given). Needs some 7 GB of
// free space in $TMPDIR (or /tmp) for the 4.7 GB copy and the dd comparison.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kGiBSectors = 524288;     // 1 GiB of 2048-byte sectors
constexpr uint32_t kCdSectors = 358400;      // 700 MB
constexpr uint32_t kDvdSectors = 2295104;    // a single-layer DVD, 4.7 GB
constexpr uint32_t kDvdSpeedSectorUs = 90;   // about 22 MB/s: 30 s of simulated time every 650 MB
constexpr int kRuns = 2;                      // the best of two, on a shared machine

struct ChildResult {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // user + system: what the load of a shared machine does not inflate
    long maxRssKiB = 0;
};

// Runs argv with stdout and stderr to /dev/null; LD_PRELOAD = `preload` when given.
ChildResult Run(const std::vector<std::string>& args, const std::string& preload = "")
{
    std::vector<char*> argv;
    std::vector<std::string> store = args;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (!preload.empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.maxRssKiB = usage.ru_maxrss;  // kilobytes on Linux
    r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return r;
}

std::string Workspace()
{
    const char* tmp = getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string templ = base + "/gleanor-bench-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) return "";
    return std::string(name.data()) + "/";
}

// A healthy disc of `sectors` sectors (the drive reports the count as its last LBA).
std::string Profile(const std::string& dir, const std::string& name, uint32_t sectors, uint32_t sectorUs)
{
    std::string path = dir + name + ".sim";
    std::ofstream(path) << "sectors " << (uint64_t(sectors) + 1) << "\nlabel " << name << "\nsector_us " << sectorUs
                        << "\n";
    return path;
}

ChildResult Copy(const std::string& profile, const std::string& dest, const std::string& preload = "")
{
    fs::remove_all(dest);
    fs::create_directories(dest);
    return Run({GLEANOR_BIN, "copy", "--sim", profile, "--sim-clock", "virtual", "--dest", dest}, preload);
}

ChildResult Best(std::vector<ChildResult> runs)
{
    return *std::min_element(runs.begin(), runs.end(),
                             [](const ChildResult& a, const ChildResult& b) { return a.seconds < b.seconds; });
}

bool Failed(const char* figure, const ChildResult& r)
{
    if (r.status == 0) return false;
    std::printf("%s: the run failed with status %d\n", figure, r.status);
    return true;
}

void Throughput(const std::string& dir)
{
    std::string profile = Profile(dir, "GIB", kGiBSectors, 0);
    std::vector<ChildResult> copies, dds;
    std::string image = dir + "t/GIB.iso";
    for (int i = 0; i < kRuns; ++i) {
        copies.push_back(Copy(profile, dir + "t/"));
        if (Failed("throughput", copies.back())) return;
        // The same bytes, from the page cache, into the same folder; synced at
        // the end as the copy syncs its image when it ends.
        fs::remove(dir + "t/dd.iso");
        dds.push_back(Run({"dd", "if=" + image, "of=" + dir + "t/dd.iso", "bs=32k", "conv=fdatasync"}));
        if (Failed("throughput (dd)", dds.back())) return;
    }
    ChildResult c = Best(copies), d = Best(dds);
    std::printf("throughput: copy of 1 GiB %.2f s (%.0f MB/s, cpu %.2f s), dd bs=32k %.2f s (cpu %.2f s), "
                "ratio %.2f (target <= 1.05)\n",
                c.seconds, 1024 / c.seconds, c.cpuSeconds, d.seconds, d.cpuSeconds, c.seconds / d.seconds);
    fs::remove_all(dir + "t/");
}

// A flag file whose every sector is read, and a sparse image of full length.
void FullyReadSet(const std::string& folder, const std::string& label, uint32_t sectors)
{
    fs::create_directories(folder);
    FlagHeader h;
    h.sectorCount = sectors;
    h.sectorSize = kNormalSectorSize;
    h.sectorsRead = sectors;
    h.checksum = 0 - h.Sum();
    uint8_t raw[kFlagHeaderSize];
    h.Encode(raw);
    std::ofstream flags(folder + label + ".flg", std::ios::binary);
    flags.write(reinterpret_cast<const char*>(raw), sizeof raw);
    std::vector<char> bitmap(4 * (size_t(sectors) / 32 + 3), 0);  // all read
    flags.write(bitmap.data(), std::streamsize(bitmap.size()));
    flags.close();
    std::ofstream(folder + label + ".iso").close();
    fs::resize_file(folder + label + ".iso", uint64_t(sectors) * kNormalSectorSize);
}

void Resume(const std::string& dir)
{
    std::string profile = Profile(dir, "DVDREAD", kDvdSectors, 0);
    std::vector<ChildResult> runs;
    for (int i = 0; i < kRuns; ++i) {
        FullyReadSet(dir + "r/", "DVDREAD", kDvdSectors);
        runs.push_back(Run({GLEANOR_BIN, "copy", "--sim", profile, "--sim-clock", "virtual", "--dest", dir + "r/"}));
        if (Failed("resume", runs.back())) return;
        fs::remove_all(dir + "r/");
    }
    std::printf("resume: pass over a fully read DVD flag file (2,295,104 sectors) %.3f s, whole command "
                "(cpu %.3f s; target <= 0.2 s)\n",
                Best(runs).seconds, Best(runs).cpuSeconds);
}

void Memory(const std::string& dir)
{
    ChildResult cd = Copy(Profile(dir, "CD700", kCdSectors, 0), dir + "m/");
    if (Failed("memory", cd)) return;
    fs::remove_all(dir + "m/");
    ChildResult dvd = Copy(Profile(dir, "DVD47", kDvdSectors, 0), dir + "m/");
    if (Failed("memory", dvd)) return;
    fs::remove_all(dir + "m/");
    std::printf("memory: peak RSS of gleanor copy %ld KiB on 700 MB, %ld KiB on 4.7 GB (target <= 4096 KiB, flat)\n",
                cd.maxRssKiB, dvd.maxRssKiB);
}

// Under the virtual clock the drive's speed changes simulated time only: the
// same copy at zero latency never reaches the 30-s flush, at DVD speed it
// does. Their difference is the periodic flush; the preloaded library that
// skips every flush shows what the flush at the end costs on top.
void Flush(const std::string& dir)
{
    std::string dvdSpeed = Profile(dir, "DVDSPEED", kGiBSectors, kDvdSpeedSectorUs);
    std::string instant = Profile(dir, "INSTANT", kGiBSectors, 0);
    std::vector<ChildResult> periodic, endOnly, none;
    for (int i = 0; i < kRuns; ++i) {
        periodic.push_back(Copy(dvdSpeed, dir + "f/"));
        if (Failed("flush", periodic.back())) return;
        endOnly.push_back(Copy(instant, dir + "f/"));
        if (Failed("flush (end only)", endOnly.back())) return;
        none.push_back(Copy(dvdSpeed, dir + "f/", GLEANOR_NOSYNC_LIB));
        if (Failed("flush (none)", none.back())) return;
    }
    double a = Best(periodic).seconds, b = Best(endOnly).seconds, c = Best(none).seconds;
    std::printf("flush: copy of 1 GiB with the periodic fdatasync (simulated 22 MB/s, every 30 s) %.2f s, "
                "without it %.2f s (%+.0f%%), with no fdatasync at all %.2f s\n",
                a, b, (a / b - 1) * 100, c);
    fs::remove_all(dir + "f/");
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> figures(argv + 1, argv + argc);
    if (figures.empty()) figures = {"throughput", "resume", "memory", "flush"};
    std::string dir = Workspace();
    if (dir.empty()) {
        std::printf("bench: cannot make a work folder\n");
        return 1;
    }
    for (const std::string& f : figures) {
        if (f == "throughput")
            Throughput(dir);
        else if (f == "resume")
            Resume(dir);
        else if (f == "memory")
            Memory(dir);
        else if (f == "flush")
            Flush(dir);
        else
            std::printf("bench: unknown figure '%s'\n", f.c_str());
        std::fflush(stdout);
    }
    fs::remove_all(dir);
    return 0;
}
