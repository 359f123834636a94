// The console-key layer where the live runs cannot look (they give the
// program a pipe): the end of standard input, and a terminal as standard
// input.  Each case runs in a child process of its own, since it changes
// signal handlers, standard input and the terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include "platform/console_keys.h"
#include "platform/windows_api.h"
#include "tests/support/pty.h"

namespace {

constexpr int KEY_SEEN = 10;
constexpr int NO_KEY = 11;

// Polls like the live run does, for at most `ms`.
int wait_for_key(int ms) {
    for (int i = 0; i < ms; ++i) {
        if (_kbhit()) return KEY_SEEN;
        usleep(1000);
    }
    return NO_KEY;
}

// Forks a child that runs `prepare`, sets up the console layer and exits
// with what `body` returns; returns once the set-up is done.
pid_t spawn(const std::function<void()>& prepare, int (*body)()) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        prepare();
        console_keys_setup();
        (void)!write(ready[1], "r", 1);
        std::exit(body());
    }
    char byte = 0;
    pollfd p{ready[0], POLLIN, 0};
    EXPECT_TRUE(poll(&p, 1, 5000) == 1 && read(ready[0], &byte, 1) == 1) << "child never got ready";
    close(ready[0]);
    close(ready[1]);
    return pid;
}

int status_of(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The child signals itself once the end of input has been polled: timing
// the signal from outside is not reliable on a loaded machine.
TEST(ConsoleKeys, EndOfInputIsNoKeyButSigtermIs) {
    const pid_t child = spawn([] { dup2(open("/dev/null", O_RDONLY), STDIN_FILENO); }, [] {
        if (wait_for_key(200) != NO_KEY) return 1;
        kill(getpid(), SIGTERM);
        return wait_for_key(5000);
    });
    EXPECT_EQ(status_of(child), KEY_SEEN);
}

// A single key is seen without Enter and left unread, and the terminal's
// mode comes back however the process ends: a key, a signal that ends it at
// once, or a second Ctrl-C when the first cannot reach the shutdown.
TEST(ConsoleKeys, TerminalTakesSingleKeysDuringTheRunAndIsRestoredOnEveryWayOut) {
    Pty pty;
    const std::string path = pty.name;
    const auto local_flags = [&] {
        termios tio{};
        tcgetattr(pty.slave, &tio);
        return tio.c_lflag & (ICANON | ECHO);
    };
    const tcflag_t cooked = ICANON | ECHO;
    ASSERT_EQ(local_flags(), cooked);

    const struct {
        int first_signal, second_signal, status;  // no signal: a key, then exit
    } cases[] = {{0, 0, KEY_SEEN}, {SIGQUIT, 0, 128 + SIGQUIT}, {SIGINT, SIGINT, 128 + SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first_signal);
        const pid_t child = spawn(
            [&] {
                setsid();
                const int fd = open(path.c_str(), O_RDWR);  // becomes the controlling terminal
                ioctl(fd, TIOCSCTTY, 0);
                dup2(fd, STDIN_FILENO);
            },
            [] {
                if (wait_for_key(5000) != KEY_SEEN) return 1;
                int waiting = 0;
                ioctl(STDIN_FILENO, FIONREAD, &waiting);
                if (waiting == 1) return KEY_SEEN;
                for (;;) pause();  // a run that cannot reach its shutdown
            });
        EXPECT_EQ(local_flags(), 0u);
        usleep(100000);
        if (c.first_signal) {
            kill(child, c.first_signal);
        } else {
            ASSERT_EQ(write(pty.master, "q", 1), 1);
        }
        if (c.second_signal) usleep(100000), kill(child, c.second_signal);
        EXPECT_EQ(status_of(child), c.status);
        EXPECT_EQ(local_flags(), cooked);
        tcflush(pty.slave, TCIFLUSH);
    }
}

}  // namespace
