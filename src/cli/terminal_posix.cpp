// Terminal facts on POSIX systems.
#include <errno.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/display.h"

bool IsTerminal(FILE* stream)
{
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

int TerminalColumns(FILE* stream)
{
    winsize size{};
    if (stream == nullptr || ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

#include <poll.h>

#include "cli/cli_prompt.h"

namespace {
constexpr int kPollMs = 100;  // how soon a Ctrl-C during a question is noticed
}

bool ReadTerminalLine(FILE* in, std::string* line, const std::function<bool()>& cancelled)
{
    line->clear();
    int fd = fileno(in);
    for (;;) {
        if (cancelled && cancelled()) return false;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line->empty();
        if (c == '\n') return true;
        *line += c;
    }
}
