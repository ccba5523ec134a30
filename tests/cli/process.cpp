#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

void ReadAvailable(int fd, std::string* into, bool* open)
{
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into->append(buf, size_t(n));
    else if (n == 0 || errno != EINTR)
        *open = false;
}

}  // namespace

std::string GleanorPath()
{
    return GLEANOR_CLI_PATH;
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& args, const ChildControl& control)
{
    ChildRun run;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return run;
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.push_back(*e);
    for (const std::string& e : control.env) envStore.push_back(e);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = args;
    argStore.insert(argStore.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, STDIN_FILENO);
        close(outPipe[0]);
        close(errPipe[0]);
        if (!control.workDir.empty() && chdir(control.workDir.c_str()) != 0) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    bool outOpen = true, errOpen = true;
    int sent = 0;
    auto deadline = std::chrono::steady_clock::now() + control.limit;
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            run.timedOut = true;
            break;
        }
        pollfd fds[2] = {{outPipe[0], short(outOpen ? POLLIN : 0), 0}, {errPipe[0], short(errOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, 50) < 0 && errno != EINTR) break;
        if (fds[0].revents) ReadAvailable(outPipe[0], &run.out, &outOpen);
        if (fds[1].revents) ReadAvailable(errPipe[0], &run.err, &errOpen);
        if (!control.interruptWhen.empty() && sent < control.interrupts &&
            run.err.find(control.interruptWhen) != std::string::npos) {
            if (sent > 0) std::this_thread::sleep_for(control.gap);
            kill(pid, control.signal);
            ++sent;
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
