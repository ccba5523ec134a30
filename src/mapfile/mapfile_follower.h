// A mapfile kept current while a copy runs: written anew after every progress
// report of the copy (on the worker thread) and once more when it has ended.
#pragma once
#include <string>

#include "engine/recovery_engine.h"

class CMapfileFollower : public IProgressObserver {
public:
    // `program` names the writer in the map's comments ("Gleanor 1.6").
    CMapfileFollower(std::string path, std::string program) : path_(std::move(path)), program_(std::move(program)) {}
    void OnProgress(CRecoveryEngine& e) override;
    void Save(CRecoveryEngine& e);
    bool Written() const { return written_; }

private:
    std::string path_;
    std::string program_;
    bool failing_ = false;
    bool written_ = false;
};
