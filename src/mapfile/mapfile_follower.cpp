#include "mapfile/mapfile_follower.h"

#include "mapfile/mapfile.h"
#include "channel/channel.h"

void CMapfileFollower::OnProgress(CRecoveryEngine& e)
{
    Save(e);
}

void CMapfileFollower::Save(CRecoveryEngine& e)
{
    MapfileInfo info;
    info.program = program_;
    info.image = (e.exportMode ? e.importFile : e.imageFile).GetPath();
    info.currentPos = uint64_t(e.position.load(std::memory_order_relaxed)) * e.copySectorSize;
    std::string error;
    bool ok = SaveMapfile(e.flagFile.GetPath(), info, path_.c_str(), &error);
    // One line when writing starts to fail, not one per tick.
    if (!ok && !failing_) LogPrintf(0, "Mapfile not written: %s", error.c_str());
    failing_ = !ok;
    written_ = written_ || ok;
}
