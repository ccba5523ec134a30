/* Preloaded into `gleanor` by the crash test. It sees every write() to a
 * regular file (the image, flag and import files) and can
 *   - pace them: GLEANOR_SHIM_PACE_US=U sleeps U microseconds of real time
 *     before each, so a copy on the virtual clock lasts long enough to be
 *     killed at a random moment or right after a log line;
 *   - kill the process at one of them: GLEANOR_SHIM_KILL_AT=N sends SIGKILL
 *     to itself instead of the N-th such write (counting from 1), so every
 *     boundary between two file writes can be chosen as a kill point; with
 *     GLEANOR_SHIM_TEAR=1 a write of 512 bytes or more is first done in half
 *     (a record or sector torn in the middle);
 *   - stand in for a faulty program: GLEANOR_SHIM_DROP_EVERY=K skips every
 *     K-th write of 512 bytes or more while reporting it done, so the crash
 *     test can show that it notices sectors marked read but never stored. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum { kTearMinBytes = 512 };

typedef ssize_t (*write_fn)(int, const void*, size_t);

static long EnvNumber(const char* name)
{
    const char* v = getenv(name);
    return v ? atol(v) : 0;
}

static void PauseMicros(long us)
{
    struct timespec t = {us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&t, &t) != 0) {
    }
}

ssize_t write(int fd, const void* buf, size_t len)
{
    static write_fn real;
    static long pace = -1, killAt, tear, dropEvery;
    static unsigned long bigWrites;
    static unsigned long count;
    if (!real) {
        real = (write_fn)dlsym(RTLD_NEXT, "write");
        killAt = EnvNumber("GLEANOR_SHIM_KILL_AT");
        tear = EnvNumber("GLEANOR_SHIM_TEAR");
        pace = EnvNumber("GLEANOR_SHIM_PACE_US");
        dropEvery = EnvNumber("GLEANOR_SHIM_DROP_EVERY");
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return real(fd, buf, len);
    unsigned long n = __atomic_add_fetch(&count, 1, __ATOMIC_SEQ_CST);
    if (pace > 0) PauseMicros(pace);
    if (killAt > 0 && n == (unsigned long)killAt) {
        if (tear && len >= kTearMinBytes) real(fd, buf, len / 2);
        kill(getpid(), SIGKILL);
    }
    if (dropEvery > 0 && len >= kTearMinBytes &&
        __atomic_add_fetch(&bigWrites, 1, __ATOMIC_SEQ_CST) % (unsigned long)dropEvery == 0)
        return (ssize_t)len;
    return real(fd, buf, len);
}
