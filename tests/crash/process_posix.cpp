#include "crash/process_posix.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

long long NowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

[[noreturn]] void ExecChild(const std::string& program, const std::string& shim, const ChildPlan& plan, int errFd)
{
    dup2(errFd, 2);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    if (plan.runAsGid >= 0 && setgid(gid_t(plan.runAsGid)) != 0) _exit(126);
    if (plan.runAsUid >= 0 && setuid(uid_t(plan.runAsUid)) != 0) _exit(126);
    if (plan.runAsUid >= 0 && chdir("/") != 0) _exit(126);  // the caller's folder may be closed to that user
    if (!shim.empty()) setenv("LD_PRELOAD", shim.c_str(), 1);
    for (const auto& [name, value] : plan.env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : plan.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Whether a complete line of `pending` starts with one of `prefixes`; the
// lines are moved to `log` as they are looked at.
bool TakeLines(std::string& pending, std::string& log, const std::vector<std::string>& prefixes, std::string* hit)
{
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        log += line + "\n";
        for (const auto& p : prefixes) {
            if (line.compare(0, p.size(), p) == 0) {
                *hit = line;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::string& shim, const ChildPlan& plan, bool* hung)
{
    ChildResult result;
    *hung = false;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        ExecChild(program, shim, plan, pipeFds[1]);
    }
    close(pipeFds[1]);
    long long start = NowMs();
    std::string pending;
    bool sent = false;
    for (;;) {
        long long now = NowMs();
        bool due = plan.killAfterMs >= 0 && now - start >= plan.killAfterMs;
        if (now - start >= plan.timeoutMs) *hung = due = true;
        if (due) {
            kill(pid, SIGKILL);
            sent = true;
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        int wait = 20;
        if (plan.killAfterMs >= 0) wait = int(std::max<long long>(0, std::min<long long>(wait, plan.killAfterMs - (now - start))));
        if (poll(&p, 1, wait) > 0) {
            char buf[4096];
            ssize_t n = read(pipeFds[0], buf, sizeof buf);
            if (n <= 0) break;  // the child closed its end: it has ended
            pending.append(buf, size_t(n));
            if (TakeLines(pending, result.log, plan.killOnLines, &result.killedAt)) {
                kill(pid, SIGKILL);
                sent = true;
                break;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // Whatever it wrote before it died.
    char buf[4096];
    ssize_t n;
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) pending.append(buf, size_t(n));
    close(pipeFds[0]);
    result.log += pending;
    result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    (void)sent;
    return result;
}
