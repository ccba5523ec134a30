// The SG_IO manager's device scan: which SCSI devices exist, at which Linux
// address, and which ASPI address they get.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

#include "aspi/sgio/sgio_aspi.h"

namespace sgio {

namespace {

const char kDevFolder[] = "/dev";
const char kSysBlock[] = "/sys/class/block/";
constexpr size_t kMaxDecimalDigits = 10;  // of a 32-bit number
constexpr uint32_t kDeviceTypeLimit = 0x20;  // the peripheral device type has five bits

// "sg12" with prefix "sg" -> true; "sgx", "sg" -> false.
bool IsNumberedNode(const std::string& name, const char* prefix)
{
    const size_t n = std::char_traits<char>::length(prefix);
    if (name.size() <= n || name.compare(0, n, prefix) != 0) return false;
    return std::all_of(name.begin() + n, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> NumberedNodes(ISgSystem& system, const char* prefix)
{
    std::vector<std::string> nodes;
    for (const std::string& name : system.ListFolder(kDevFolder))
        if (IsNumberedNode(name, prefix)) nodes.push_back(name);
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

bool ParseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > kMaxDecimalDigits) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

std::string TrimmedLine(const std::string& text)
{
    size_t end = text.find_first_of("\r\n");
    std::string line = text.substr(0, end);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    return line;
}

bool SameAddress(const std::vector<SgDevice>& found, const ScsiAddress& address)
{
    return std::any_of(found.begin(), found.end(),
                       [&](const SgDevice& d) { return d.address == address; });
}

}  // namespace

bool ParseScsiAddress(const std::string& text, ScsiAddress* address)
{
    uint32_t parts[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = (i < 3) ? text.find(':', start) : text.size();
        if (end == std::string::npos) return false;
        if (!ParseNumber(text.substr(start, end - start), &parts[i])) return false;
        start = end + 1;
    }
    *address = {parts[0], parts[1], parts[2], parts[3]};
    return true;
}

// Every sg node that opens and answers SG_GET_SCSI_ID. The node is closed
// again; a command opens it when it is first needed.
void CSgioAspi::ScanSgNodes(std::vector<SgDevice>* found)
{
    for (const std::string& name : NumberedNodes(system_, "sg")) {
        const std::string path = std::string(kDevFolder) + "/" + name;
        int fd = system_.Open(path);
        if (fd < 0) continue;
        ScsiDeviceId id;
        if (system_.GetScsiId(fd, &id) && !SameAddress(*found, id.address)) {
            SgDevice device;
            device.address = id.address;
            device.type = id.type;
            device.path = path;
            found->push_back(device);
        }
        system_.Close(fd);
    }
}

// CD/DVD block nodes whose device has no usable sg node (the sg module is not
// loaded, or its node cannot be opened). SG_GET_SCSI_ID does not work on
// them, so the address comes from the name of the sysfs device they link to.
void CSgioAspi::ScanSrNodes(std::vector<SgDevice>* found)
{
    for (const std::string& name : NumberedNodes(system_, "sr")) {
        const std::string sys = kSysBlock + name + "/device";
        std::string link;
        if (!system_.ReadLink(sys, &link)) continue;
        ScsiAddress address;
        if (!ParseScsiAddress(link.substr(link.find_last_of('/') + 1), &address)) continue;
        if (SameAddress(*found, address)) continue;
        SgDevice device;
        device.address = address;
        device.type = kTypeCdrom;
        std::string typeText;
        uint32_t type = 0;
        if (system_.ReadText(sys + "/type", &typeText) && ParseNumber(TrimmedLine(typeText), &type) &&
            type < kDeviceTypeLimit)
            device.type = static_cast<uint8_t>(type);
        device.path = std::string(kDevFolder) + "/" + name;
        found->push_back(device);
    }
}

// Keeps the devices that have an ASPI address and numbers their hosts densely
// in ascending host order; see the header for the channel folding.
void CSgioAspi::NumberAdapters(std::vector<SgDevice>* found)
{
    std::vector<SgDevice> kept;
    std::set<uint32_t> hosts;
    for (SgDevice& d : *found) {
        const uint64_t target = uint64_t{d.address.channel} * kAspiTargets + d.address.id;
        if (target >= kAspiTargets || d.address.lun >= kAspiLuns) continue;
        d.target = static_cast<uint8_t>(target);
        d.lun = static_cast<uint8_t>(d.address.lun);
        hosts.insert(d.address.host);
        kept.push_back(d);
    }
    adapterHosts_.assign(hosts.begin(), hosts.end());
    // HA_Count is one byte; adapter number 255 is the wildcard.
    if (adapterHosts_.size() > kAspiWildcard) adapterHosts_.resize(kAspiWildcard);
    devices_.clear();
    for (SgDevice& d : kept) {
        auto it = std::find(adapterHosts_.begin(), adapterHosts_.end(), d.address.host);
        if (it == adapterHosts_.end()) continue;
        d.adapter = static_cast<uint8_t>(it - adapterHosts_.begin());
        devices_.push_back(d);
    }
    std::sort(devices_.begin(), devices_.end(), [](const SgDevice& a, const SgDevice& b) {
        if (a.adapter != b.adapter) return a.adapter < b.adapter;
        if (a.target != b.target) return a.target < b.target;
        return a.lun < b.lun;
    });
}

void CSgioAspi::ScanLocked()
{
    if (scanned_) return;
    scanned_ = true;
    std::vector<SgDevice> found;
    ScanSgNodes(&found);
    ScanSrNodes(&found);
    NumberAdapters(&found);
}

void CSgioAspi::RescanLocked()
{
    // An open node of a device that went away stays dead, and its number is
    // not given to the next device while it is open.
    std::vector<SgDevice> before = std::move(devices_);
    for (SgDevice& d : before)
        if (d.fd >= 0) system_.Close(d.fd);
    scanned_ = false;
    ScanLocked();
    for (SgDevice& d : devices_) {
        for (const SgDevice& old : before)
            if (old.path == d.path && old.address == d.address) d.timeoutHalfSeconds = old.timeoutHalfSeconds;
    }
}

SgDevice* CSgioAspi::FindLocked(uint8_t adapter, uint8_t target, uint8_t lun)
{
    for (SgDevice& d : devices_)
        if (d.adapter == adapter && d.target == target && d.lun == lun) return &d;
    return nullptr;
}

std::vector<SgDevice> CSgioAspi::Devices()
{
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    return devices_;
}

int CSgioAspi::AdapterCount()
{
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    return static_cast<int>(adapterHosts_.size());
}

// The adapter identifier: the Linux driver's name for the host, where sysfs has it.
std::string HostIdentifier(ISgSystem& system, uint32_t host)
{
    std::string text;
    if (!system.ReadText("/sys/class/scsi_host/host" + std::to_string(host) + "/proc_name", &text))
        return "";
    return TrimmedLine(text);
}

}  // namespace sgio
