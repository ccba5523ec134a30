// Runs `gleanor` as a child process and ends it with SIGKILL at a moment the
// crash test chooses: after a real-time delay, when a log line appears on its
// standard error, or (through the preloaded shim) at its N-th file write.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct ChildResult {
    bool killed = false;  // ended by SIGKILL (ours or the shim's)
    int exitCode = -1;    // when it exited by itself
    std::string log;      // its standard error, as far as it came
    std::string killedAt; // the line that triggered the kill, if any
    int mode = -1;        // how the caller meant to kill it (the caller's numbering)
};

struct ChildPlan {
    std::vector<std::string> args;                            // after the program's name
    std::vector<std::pair<std::string, std::string>> env;     // added to the environment
    int killAfterMs = -1;                                     // real time; -1: never
    std::vector<std::string> killOnLines;                     // a stderr line starting with one of these
    int timeoutMs = 60000;                                    // a run that hangs is killed and reported
    int runAsUid = -1;                                        // when root: the user the child runs as
    int runAsGid = -1;
};

// Runs `program` with the shim preloaded (when `shim` is not empty).
ChildResult RunChild(const std::string& program, const std::string& shim, const ChildPlan& plan, bool* hung);
