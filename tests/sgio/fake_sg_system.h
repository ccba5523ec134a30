// A scripted stand-in for the operating system under the SG_IO manager:
// device nodes with their SCSI addresses, sysfs files and links, and SG_IO
// replies prepared by the test. It records every request.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "aspi/sgio/sg_system.h"

struct FakeNode {
    bool opens = true;
    bool hasId = true;  // SG_GET_SCSI_ID answers (sg nodes only)
    sgio::ScsiDeviceId id;
};

struct FakeReply {
    bool ioctlFails = false;
    uint8_t status = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    int32_t resid = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;  // written into the buffer, up to dataLength - resid
};

struct SeenRequest {
    std::string path;
    sgio::Direction direction;
    std::vector<uint8_t> cdb;
    uint32_t dataLength;
    uint32_t timeoutMs;
};

class CFakeSgSystem : public sgio::ISgSystem {
public:
    // An sg node /dev/<name> at host:channel:id:lun of the given type.
    void AddSg(const std::string& name, uint32_t host, uint32_t channel, uint32_t id, uint32_t lun,
               uint8_t type = 5)
    {
        FakeNode node;
        node.id.address = {host, channel, id, lun};
        node.id.type = type;
        nodes["/dev/" + name] = node;
        dev.push_back(name);
    }
    // A CD block node /dev/<name> whose sysfs device is "H:C:T:L".
    void AddSr(const std::string& name, const std::string& hctl)
    {
        FakeNode node;
        node.hasId = false;
        nodes["/dev/" + name] = node;
        dev.push_back(name);
        links["/sys/class/block/" + name + "/device"] = "../../../" + hctl;
    }

    std::vector<std::string> ListFolder(const std::string& folder) override
    {
        return folder == "/dev" ? dev : std::vector<std::string>{};
    }
    int Open(const std::string& path) override
    {
        opened.push_back(path);
        auto it = nodes.find(path);
        if (it == nodes.end() || !it->second.opens) return -1;
        fds[nextFd] = path;
        return nextFd++;
    }
    void Close(int fd) override
    {
        fds.erase(fd);
        ++closes;
    }
    bool GetScsiId(int fd, sgio::ScsiDeviceId* id) override
    {
        const FakeNode& node = nodes[fds[fd]];
        if (!node.hasId) return false;
        *id = node.id;
        return true;
    }
    bool Execute(int fd, sgio::Transfer* t) override
    {
        const std::string path = fds.count(fd) ? fds[fd] : "?";
        requests.push_back({path, t->direction, std::vector<uint8_t>(t->cdb, t->cdb + t->cdbLength), t->dataLength,
                            t->timeoutMs});
        if (requests.size() > vanishAfter && !vanishPath.empty()) Unplug(vanishPath);
        if (nodes.count(path) && !nodes[path].opens) return false;  // the device is gone
        FakeReply r = byOpcode.count(t->cdb[0]) ? byOpcode[t->cdb[0]] : FakeReply{};
        if (byPath.count(path) && byPath[path].count(t->cdb[0])) r = byPath[path][t->cdb[0]];
        if (!replies.empty()) {
            r = replies.front();
            replies.pop_front();
        }
        if (r.ioctlFails) return false;
        t->status = r.status;
        t->hostStatus = r.hostStatus;
        t->driverStatus = r.driverStatus;
        t->resid = r.resid;
        if (t->data) {
            size_t room = t->dataLength - std::min<uint32_t>(t->dataLength, r.resid < 0 ? 0 : r.resid);
            if (!r.data.empty()) std::memcpy(t->data, r.data.data(), std::min(room, r.data.size()));
        }
        t->senseWritten = static_cast<uint8_t>(std::min<size_t>(r.sense.size(), t->senseCapacity));
        if (t->senseWritten) std::memcpy(t->sense, r.sense.data(), t->senseWritten);
        return true;
    }
    bool ReadText(const std::string& path, std::string* text) override
    {
        auto it = texts.find(path);
        if (it == texts.end()) return false;
        *text = it->second;
        return true;
    }
    bool ReadLink(const std::string& path, std::string* target) override
    {
        auto it = links.find(path);
        if (it == links.end()) return false;
        *target = it->second;
        return true;
    }

    // The node leaves /dev and its open handles fail, as an unplugged device's do.
    void Unplug(const std::string& path)
    {
        nodes[path].opens = false;
        dev.erase(std::remove(dev.begin(), dev.end(), path.substr(5)), dev.end());
    }

    std::string vanishPath;             // unplugged once more than vanishAfter requests were made
    size_t vanishAfter = SIZE_MAX;
    std::vector<std::string> dev;
    std::map<std::string, FakeNode> nodes;
    std::map<std::string, std::string> links;
    std::map<std::string, std::string> texts;
    std::deque<FakeReply> replies;         // answered first, in order
    std::map<uint8_t, FakeReply> byOpcode;  // then by the CDB's operation code
    std::map<std::string, std::map<uint8_t, FakeReply>> byPath;  // before byOpcode, for one node
    std::vector<SeenRequest> requests;
    std::vector<std::string> opened;
    std::map<int, std::string> fds;
    int nextFd = 3;
    int closes = 0;
};
