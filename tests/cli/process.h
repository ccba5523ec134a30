// Runs the built `gleanor` as a child process and collects what it printed,
// optionally sending it Ctrl-C (SIGINT) when a line shows up on its stderr.
#pragma once
#include <chrono>
#include <string>
#include <vector>

struct ChildRun {
    int status = -1;        // exit status, or 128 + signal
    bool timedOut = false;  // killed after the time limit
    std::string out;
    std::string err;
};

struct ChildControl {
    std::string interruptWhen;  // send SIGINT once stderr holds this ("" = never)
    int interrupts = 1;         // how many, `gap` apart
    int signal = 2;             // SIGINT; SIGTERM and SIGHUP act alike
    std::chrono::milliseconds gap{50};
    std::chrono::seconds limit{60};
    std::vector<std::string> env;  // extra NAME=VALUE entries
    std::string workDir;           // "" = the test's own
};

ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const ChildControl& control = ChildControl());

// The built program (path compiled in by CMake).
std::string GleanorPath();
