// A scripted stand-in for Windows under the pass-through manager: drive
// letters with their types and storage addresses, and pass-through replies
// prepared by the test. It records every open, request and close.
#pragma once
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "aspi/spti/spti_system.h"

struct FakeLetter {
    uint32_t type = spti::kDriveCdrom;
    uint32_t openError = 0;  // non-zero: CreateFileA fails with it
    bool addressed = true;
    spti::ScsiAddress address{};
    uint32_t alignmentMask = 0;
};

struct FakeReply {
    uint32_t error = 0;  // non-zero: DeviceIoControl fails with it
    uint8_t status = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;
    int64_t transferred = -1;  // the DataTransferLength reported back; -1: as asked
};

struct SeenRequest {
    std::string path;
    spti::ScsiPassThroughDirect record;  // as the manager sent it
    uint32_t size;
};

struct SeenOpen {
    std::string path;
    uint32_t access;
    uint32_t share;
};

class CFakeSptiSystem : public spti::ISptiSystem {
public:
    void Add(char letter, uint8_t port, uint8_t path, uint8_t target, uint8_t lun)
    {
        FakeLetter l;
        l.address = {sizeof(spti::ScsiAddress), port, path, target, lun};
        letters[letter] = l;
    }

    uint32_t LogicalDrives() override
    {
        uint32_t mask = 0;
        for (const auto& [letter, l] : letters) mask |= 1u << (letter - 'A');
        return mask;
    }
    uint32_t DriveType(const std::string& root) override
    {
        auto it = letters.find(root[0]);
        return root.size() == 3 && root.substr(1) == ":\\" && it != letters.end() ? it->second.type : 1;
    }
    spti::Handle Open(const std::string& path, uint32_t access, uint32_t share, uint32_t* error) override
    {
        opens.push_back({path, access, share});
        const FakeLetter& l = letters.at(path.at(4));
        if (l.openError) {
            *error = l.openError;
            return nullptr;
        }
        handles.push_back(path);
        dead.push_back(false);
        return reinterpret_cast<spti::Handle>(handles.size());
    }
    bool Control(spti::Handle handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned, uint32_t* error) override
    {
        const std::string path = PathOf(handle);
        *returned = 0;
        if (dead.at(reinterpret_cast<size_t>(handle) - 1)) return Fail(kErrorDeviceNotConnected, error);
        const FakeLetter& l = letters.at(path.at(4));
        if (code == spti::kIoctlScsiGetAddress) {
            if (!l.addressed || outSize < sizeof l.address) return Fail(1, error);
            std::memcpy(out, &l.address, sizeof l.address);
            *returned = sizeof l.address;
            return true;
        }
        if (code == spti::kIoctlScsiGetCapabilities) {
            spti::ScsiCapabilities caps{};
            caps.Length = sizeof caps;
            caps.MaximumTransferLength = 0x10000;
            caps.AlignmentMask = l.alignmentMask;
            std::memcpy(out, &caps, sizeof caps);
            *returned = sizeof caps;
            return true;
        }
        if (code != spti::kIoctlScsiPassThroughDirect || in != out) return Fail(87, error);
        auto& p = *static_cast<spti::ScsiPassThroughDirect*>(in);
        seen.push_back({path, p, inSize});
        FakeReply r = replies.empty() ? FakeReply{} : replies.front();
        if (!replies.empty()) replies.pop_front();
        if (r.error) return Fail(r.error, error);
        p.ScsiStatus = r.status;
        if (p.DataBuffer && p.DataIn == spti::kDataIn && !r.data.empty())
            std::memcpy(p.DataBuffer, r.data.data(), std::min<size_t>(r.data.size(), p.DataTransferLength));
        if (r.transferred >= 0) p.DataTransferLength = static_cast<uint32_t>(r.transferred);
        p.SenseInfoLength = static_cast<uint8_t>(std::min<size_t>(r.sense.size(), p.SenseInfoLength));
        if (p.SenseInfoLength) std::memcpy(static_cast<uint8_t*>(in) + p.SenseInfoOffset, r.sense.data(), p.SenseInfoLength);
        *returned = sizeof p;
        return true;
    }
    void Close(spti::Handle handle) override { closed.push_back(PathOf(handle)); }
    void DebugLine(const std::string& line) override { debugLines.push_back(line); }
    std::string Environment(const char* name) override { return environment[name]; }

    // The letter goes, and every handle opened on it fails from now on, as
    // the handles of a removed device do (ERROR_DEVICE_NOT_CONNECTED).
    void Unplug(char letter)
    {
        letters.erase(letter);
        for (size_t i = 0; i < handles.size(); ++i)
            if (handles[i].at(4) == letter) dead[i] = true;
    }
    static constexpr uint32_t kErrorDeviceNotConnected = 1167;

    std::map<char, FakeLetter> letters;
    std::deque<FakeReply> replies;
    std::map<std::string, std::string> environment;
    std::vector<SeenOpen> opens;
    std::vector<std::string> handles;  // handle k+1 is handles[k]
    std::vector<bool> dead;            // handle k+1's device was removed
    std::vector<SeenRequest> seen;
    std::vector<std::string> closed;
    std::vector<std::string> debugLines;

private:
    std::string PathOf(spti::Handle handle) const
    {
        return handles.at(reinterpret_cast<size_t>(handle) - 1);
    }
    static bool Fail(uint32_t code, uint32_t* error)
    {
        *error = code;
        return false;
    }
};
