// The commands other than copy, demo and files; each returns the program's
// exit status.
#pragma once
#include "cli/front_end.h"

int RunDrives(CFrontEnd& fe);
int RunEstimate(CFrontEnd& fe);
int RunEject(CFrontEnd& fe);
int RunLoad(CFrontEnd& fe);
int RunImport(CFrontEnd& fe);

// "Gleanor VERSION", as --version and the mapfile's comments give it.
std::string ProgramTitle();
// gleanor mapfile IMAGE.flg [-o FILE]
int RunMapfile(CFrontEnd& fe);
// gleanor import --mapfile MAP --from IMAGE [--dest DIR] [--image NAME]
int RunMapImport(CFrontEnd& fe);
