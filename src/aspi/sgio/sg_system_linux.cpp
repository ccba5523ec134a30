// The real operating-system side of the SG_IO manager, and the Linux
// platform ASPI library built on it.
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "aspi/sgio/sgio_aspi.h"

namespace sgio {

namespace {

constexpr size_t kSysfsTextMax = 4096;
constexpr int kSgInterfaceId = 'S';  // sg_io_hdr version 3

int SgDirection(Direction d)
{
    switch (d) {
    case Direction::FromDevice: return SG_DXFER_FROM_DEV;
    case Direction::ToDevice: return SG_DXFER_TO_DEV;
    case Direction::None: break;
    }
    return SG_DXFER_NONE;
}

class CLinuxSgSystem : public ISgSystem {
public:
    std::vector<std::string> ListFolder(const std::string& folder) override
    {
        std::vector<std::string> names;
        DIR* dir = opendir(folder.c_str());
        if (!dir) return names;
        while (dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
        closedir(dir);
        return names;
    }

    int Open(const std::string& path) override
    {
        int fd;
        do {
            fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    void Close(int fd) override { close(fd); }

    bool GetScsiId(int fd, ScsiDeviceId* id) override
    {
        struct sg_scsi_id raw{};
        if (ioctl(fd, SG_GET_SCSI_ID, &raw) < 0) return false;
        id->address = {static_cast<uint32_t>(raw.host_no), static_cast<uint32_t>(raw.channel),
                       static_cast<uint32_t>(raw.scsi_id), static_cast<uint32_t>(raw.lun)};
        id->type = static_cast<uint8_t>(raw.scsi_type);
        return true;
    }

    bool Execute(int fd, Transfer* t) override
    {
        sg_io_hdr_t io{};
        io.interface_id = kSgInterfaceId;
        io.dxfer_direction = SgDirection(t->direction);
        io.cmd_len = t->cdbLength;
        io.cmdp = const_cast<unsigned char*>(t->cdb);
        io.dxferp = t->data;
        io.dxfer_len = t->dataLength;
        io.sbp = t->sense;
        io.mx_sb_len = t->senseCapacity;
        io.timeout = t->timeoutMs;
        int rc;
        do {
            rc = ioctl(fd, SG_IO, &io);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0) return false;
        t->status = io.status;
        t->hostStatus = io.host_status;
        t->driverStatus = io.driver_status;
        t->resid = io.resid;
        t->senseWritten = io.sb_len_wr;
        return true;
    }

    bool ReadText(const std::string& path, std::string* text) override
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        char buffer[kSysfsTextMax];
        size_t n = std::fread(buffer, 1, sizeof buffer, f);
        std::fclose(f);
        text->assign(buffer, n);
        return true;
    }

    bool ReadLink(const std::string& path, std::string* target) override
    {
        char buffer[kSysfsTextMax];
        ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
        if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
        target->assign(buffer, static_cast<size_t>(n));
        return true;
    }
};

}  // namespace

}  // namespace sgio

// One manager for the process: the devices are scanned once, at the first
// GetASPI32SupportInfo, and their nodes stay open for the program's life.
IAspiLibrary& PlatformAspiLibrary()
{
    static sgio::CLinuxSgSystem system;
    static sgio::CSgioAspi manager(system);
    static CInProcessAspiLibrary library(&manager);
    return library;
}
