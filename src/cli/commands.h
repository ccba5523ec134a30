// One function per command; each returns the program's exit status.
#pragma once
#include "cli/front_end.h"

int RunDrives(CFrontEnd& fe);
int RunEstimate(CFrontEnd& fe);
int RunEject(CFrontEnd& fe);
int RunLoad(CFrontEnd& fe);
int RunImport(CFrontEnd& fe);
// The copy: source ready, forced size, runRequested, the copy watched to its
// end; exits with the copy's outcome code.
int RunCopyCommand(CFrontEnd& fe);
// The demo builds its own copy of the bundled scratched disc.
int RunDemo(const Options& options, const CliIo& io);

// "Gleanor VERSION", as --version and the mapfile's comments give it.
std::string ProgramTitle();
// gleanor mapfile IMAGE.flg [-o FILE]
int RunMapfile(CFrontEnd& fe);
// gleanor import --mapfile MAP --from IMAGE [--dest DIR] [--image NAME]
int RunMapImport(CFrontEnd& fe);

// copy --mapfile FILE: the map written anew after every progress report of
// the copy (on the worker thread) and once more when the copy has ended.
class CMapfileFollower : public IProgressObserver {
public:
    explicit CMapfileFollower(std::string path) : path_(std::move(path)) {}
    void OnProgress(CRecoveryEngine& e) override;
    void Save(CRecoveryEngine& e);
    bool Written() const { return written_; }

private:
    std::string path_;
    bool failing_ = false;
    bool written_ = false;
};
