#include "pack/interrupt.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_signal = 0;
// A pipe the handler writes to: a wait on it together with an input cannot
// miss a signal that arrives just before the wait starts.
int g_wake[2] = {-1, -1};

void OnSignal(int signal)
{
    int savedErrno = errno;
    if (g_signal == 0)
        g_signal = signal;
    // Nonblocking: once the pipe holds a byte, more add nothing.
    ssize_t cb = write(g_wake[1], "!", 1);
    (void)cb;
    errno = savedErrno;
}

sigset_t CaughtSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCaught)
        sigaddset(&set, signal);
    return set;
}

}  // namespace

bool CatchInterrupts()
{
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in progress returns at once with EINTR.
    action.sa_flags = 0;
    for (int signal : kCaught)
        if (sigaction(signal, &action, nullptr) != 0)
            return false;
    return true;
}

int InterruptSignal()
{
    return g_signal;
}

bool WaitReadable(int fd)
{
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
    while (g_signal == 0) {
        int cReady = poll(fds, 2, -1);
        if (g_signal != 0)
            break;
        // An error of poll itself is left for the read to report.
        if (cReady > 0 || errno != EINTR)
            return true;
    }
    return false;
}

InterruptsHeld::InterruptsHeld()
{
    sigset_t set = CaughtSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

InterruptsHeld::~InterruptsHeld()
{
    sigset_t set = CaughtSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void EndAsInterrupted()
{
    int signal = g_signal;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Delivered before kill returns, the signal now being neither caught
    // nor blocked; the exit is only for a signal that could not be.
    kill(getpid(), signal);
    _exit(128 + signal);
}
