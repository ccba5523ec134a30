#include "fuzz/fuzz_support.h"

#include "drive/aspi_library.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

const std::string& ScratchDir()
{
    static const std::string dir = [] {
        struct stat st;
        std::string base = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
        std::string templ = base + "/gleanor-fuzz-XXXXXX";
        if (!mkdtemp(templ.data())) Fail("cannot make a scratch folder");
        return templ + "/";
    }();
    return dir;
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    close(fd);
    return done == size;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteFileBytes(path, bytes.data(), bytes.size());
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::vector<uint8_t> out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return out;
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    close(fd);
    return out;
}

void RemoveFile(const std::string& path)
{
    unlink(path.c_str());
}

uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void Fail(const char* what)
{
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

int CByteAnswers::MessageBox(const char*, const char*, unsigned)
{
    int answer = asked < int(answers_.size()) ? answers_[asked] : kIdFailed;
    ++asked;
    return answer;
}

bool CByteAnswers::ChooseFile(const FileChoice&, std::string*)
{
    return false;
}

int AnswerFromByte(uint8_t b)
{
    static const int kAnswers[] = {kIdOk, kIdCancel, kIdYes, kIdNo, kIdFailed};
    return kAnswers[b % 5];
}

}  // namespace fuzz

// The fuzz targets leave the platform's ASPI layer out (no real drive is ever
// asked); a drive without a library of its own finds none.
namespace {
class CNoAspiLibrary : public IAspiLibrary {
public:
    bool Load() override { return false; }
    void* Resolve(const char*) override { return nullptr; }
    void Free() override {}
};
}  // namespace

IAspiLibrary& PlatformAspiLibrary()
{
    static CNoAspiLibrary none;
    return none;
}
