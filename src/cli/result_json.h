// The one JSON object that `copy --json` and `import --json` print at the end,
// so that a script or a dashboard need not read the log.
#pragma once
#include <string>

struct CommandResult {
    std::string command;      // "copy", "import"
    int status = 0;           // the exit status
    int outcome = -1;         // a copy's outcome code, -1 when none
    std::string outcomeText;  // "Give Up"
    std::string flagPath;     // the image set's flag file ("" when none was opened)
    double runSeconds = 0;    // wall time of this run
};

// The result with the image set's figures read from its flag file: sectors,
// read, missing, errors and the copy time of all runs ("figures" null when
// the file cannot be read).
std::string ResultJson(const CommandResult& result);
