// The pass-through manager's device scan: which drive letters are CD/DVD
// drives that open for pass-through, and which ASPI address each one gets.
#include <algorithm>
#include <map>
#include <utility>

#include "aspi/spti/spti_aspi.h"

namespace spti {

namespace {

constexpr int kLetters = 26;       // A: .. Z:
constexpr uint8_t kAspiTargets = 8;
constexpr uint8_t kAspiLuns = 8;
constexpr size_t kMaxAdapters = 64;  // adapter numbers a rescan hands out: more than 26 letters can use

std::string ErrorText(uint32_t error)
{
    std::string text = "ERROR " + std::to_string(error);
    if (error == kErrorAccessDenied) text += " ACCESS DENIED (run as administrator)";
    if (error == kErrorFileNotFound) text += " NOT FOUND";
    return text;
}

bool ExpressibleInAspi(const ScsiAddress& a) { return a.TargetId < kAspiTargets && a.Lun < kAspiLuns; }

// Two letters of one storage address are one device.
bool SameAddress(const SptiDevice& a, const SptiDevice& b)
{
    return a.addressed && b.addressed && a.address.PortNumber == b.address.PortNumber &&
           a.address.PathId == b.address.PathId && a.address.TargetId == b.address.TargetId &&
           a.address.Lun == b.address.Lun;
}

void SortByAspiAddress(std::vector<SptiDevice>* devices)
{
    std::sort(devices->begin(), devices->end(), [](const SptiDevice& a, const SptiDevice& b) {
        if (a.adapter != b.adapter) return a.adapter < b.adapter;
        if (a.target != b.target) return a.target < b.target;
        return a.lun < b.lun;
    });
}

}  // namespace

void CSptiAspi::Trace(const std::string& line)
{
    if (!trace_) return;
    std::fprintf(trace_, "%s\n", line.c_str());
    std::fflush(trace_);  // a reader outside the process sees every line at once
}

// Opens one letter and learns its address and alignment. False (and a trace
// line) when it cannot be opened.
bool CSptiAspi::OpenLetter(char letter, SptiDevice* device)
{
    device->letter = letter;
    device->path = std::string("\\\\.\\") + letter + ":";
    uint32_t error = 0;
    device->handle = system_.Open(device->path, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite, &error);
    if (!device->handle) {
        const std::string line = device->path + " OPEN -> " + ErrorText(error);
        system_.DebugLine("WNASPI32 (SCSI pass-through): " + line + "\n");
        Trace(line);
        return false;
    }
    uint32_t returned = 0;
    ScsiAddress address{};
    address.Length = sizeof address;
    device->addressed = system_.Control(device->handle, kIoctlScsiGetAddress, nullptr, 0, &address,
                                        sizeof address, &returned, &error) &&
                        returned >= sizeof address;
    if (device->addressed) device->address = address;
    ScsiCapabilities caps{};
    caps.Length = sizeof caps;
    if (system_.Control(device->handle, kIoctlScsiGetCapabilities, nullptr, 0, &caps, sizeof caps, &returned,
                        &error) &&
        returned > offsetof(ScsiCapabilities, AlignmentMask))
        device->alignmentMask = caps.AlignmentMask;
    return true;
}

// Addressed devices first, one adapter per port and path pair in ascending
// order; then each of the others on an adapter of its own, in letter order.
void CSptiAspi::NumberAdapters(std::vector<SptiDevice>* found)
{
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> buses;
    for (const SptiDevice& d : *found)
        if (d.addressed && ExpressibleInAspi(d.address)) buses[{d.address.PortNumber, d.address.PathId}] = 0;
    uint8_t next = 0;
    for (auto& [bus, adapter] : buses) adapter = next++;
    devices_.clear();
    for (SptiDevice& d : *found) {
        if (d.addressed && ExpressibleInAspi(d.address)) {
            d.adapter = buses[{d.address.PortNumber, d.address.PathId}];
            d.target = d.address.TargetId;
            d.lun = d.address.Lun;
        } else {
            d.adapter = next++;  // at most 26 letters: the count stays below the wildcard
        }
        devices_.push_back(d);
    }
    adapterCount_ = next;
    SortByAspiAddress(&devices_);
}

void CSptiAspi::ScanLocked()
{
    if (scanned_) return;
    scanned_ = true;
    const std::string tracePath = system_.Environment(kTraceVariable);
    if (!tracePath.empty()) trace_ = std::fopen(tracePath.c_str(), "ab");

    const uint32_t letters = system_.LogicalDrives();
    std::vector<SptiDevice> found;
    for (int i = 0; i < kLetters; ++i) {
        if (!(letters >> i & 1)) continue;
        const char letter = static_cast<char>('A' + i);
        if (system_.DriveType(std::string(1, letter) + ":\\") != kDriveCdrom) continue;
        SptiDevice device;
        if (!OpenLetter(letter, &device)) continue;
        if (std::any_of(found.begin(), found.end(), [&](const SptiDevice& d) { return SameAddress(d, device); })) {
            system_.Close(device.handle);
            continue;
        }
        found.push_back(device);
    }
    NumberAdapters(&found);
}

bool CSptiAspi::StillThere(const SptiDevice& device)
{
    if (system_.DriveType(std::string(1, device.letter) + ":\\") != kDriveCdrom) return false;
    // The handle of a device that was removed fails every request.
    ScsiCapabilities caps{};
    caps.Length = sizeof caps;
    uint32_t returned = 0;
    uint32_t error = 0;
    return system_.Control(device.handle, kIoctlScsiGetCapabilities, nullptr, 0, &caps, sizeof caps, &returned,
                           &error);
}

void CSptiAspi::NumberNewcomers(std::vector<SptiDevice>* fresh)
{
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> buses;
    std::vector<bool> used(kMaxAdapters, false);
    for (const SptiDevice& d : devices_) {
        used[d.adapter] = true;
        if (d.addressed && ExpressibleInAspi(d.address)) buses[{d.address.PortNumber, d.address.PathId}] = d.adapter;
    }
    auto lowestFree = [&] {
        uint8_t a = 0;
        while (used[a]) ++a;  // at most 26 devices: a free number is always below the table's end
        used[a] = true;
        return a;
    };
    for (SptiDevice& d : *fresh) {
        d.target = 0;
        d.lun = 0;
        if (d.addressed && ExpressibleInAspi(d.address)) {
            const std::pair<uint8_t, uint8_t> bus{d.address.PortNumber, d.address.PathId};
            if (!buses.count(bus)) buses[bus] = lowestFree();
            d.adapter = buses[bus];
            d.target = d.address.TargetId;
            d.lun = d.address.Lun;
        } else {
            d.adapter = lowestFree();
        }
        devices_.push_back(d);
    }
}

uint8_t CSptiAspi::RescanLocked()
{
    std::vector<SptiDevice> kept;
    for (SptiDevice& d : devices_) {
        if (StillThere(d)) {
            kept.push_back(d);
            continue;
        }
        Trace(d.path + " GONE");
        system_.Close(d.handle);
    }
    devices_ = kept;

    const uint32_t letters = system_.LogicalDrives();
    std::vector<SptiDevice> fresh;
    for (int i = 0; i < kLetters; ++i) {
        const char letter = static_cast<char>('A' + i);
        if (!(letters >> i & 1)) continue;
        if (std::any_of(devices_.begin(), devices_.end(), [&](const SptiDevice& d) { return d.letter == letter; }))
            continue;
        if (system_.DriveType(std::string(1, letter) + ":\\") != kDriveCdrom) continue;
        SptiDevice device;
        if (!OpenLetter(letter, &device)) continue;
        auto sameAddress = [&](const SptiDevice& d) { return SameAddress(d, device); };
        if (std::any_of(devices_.begin(), devices_.end(), sameAddress) ||
            std::any_of(fresh.begin(), fresh.end(), sameAddress)) {
            system_.Close(device.handle);
            continue;
        }
        fresh.push_back(device);
    }
    NumberNewcomers(&fresh);
    adapterCount_ = 0;
    for (const SptiDevice& d : devices_) adapterCount_ = std::max<uint8_t>(adapterCount_, uint8_t(d.adapter + 1));
    SortByAspiAddress(&devices_);
    return aspi::SS_COMP;
}

SptiDevice* CSptiAspi::FindLocked(uint8_t adapter, uint8_t target, uint8_t lun)
{
    for (SptiDevice& d : devices_)
        if (d.adapter == adapter && d.target == target && d.lun == lun) return &d;
    return nullptr;
}

std::vector<SptiDevice> CSptiAspi::Devices()
{
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    return devices_;
}

}  // namespace spti
