// The console-key layer, each case in a child process of its own: it
// changes signal handlers, standard input and the terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console_keys.h"
#include "platform/windows_api.h"

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

struct Child {
    pid_t pid = -1;
    int ready = -1;  // one byte arrives once the child has set up

    // Waits for the child's set-up; false if it never came.
    bool wait_ready() {
        pollfd p{ready, POLLIN, 0};
        char byte = 0;
        return poll(&p, 1, 5000) == 1 && read(ready, &byte, 1) == 1;
    }
    int status() {
        int s = 0;
        waitpid(pid, &s, 0);
        close(ready);
        return s;
    }
};

// Runs `prepare` (standard input etc.), sets up the console layer, reports
// ready, then exits with what `body` returns.
Child spawn(const std::function<void()>& prepare, const std::function<int()>& body) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    std::fflush(nullptr);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        close(ready[0]);
        prepare();
        console_keys_setup();
        (void)!write(ready[1], "r", 1);
        std::exit(body());
    }
    close(ready[1]);
    child.ready = ready[0];
    return child;
}

void stdin_from(const char* path) {
    const int fd = open(path, O_RDONLY);
    dup2(fd, STDIN_FILENO);
    close(fd);
}

TEST(ConsoleKeys, EndOfInputIsNoKeyButTermIs) {
    Child child = spawn([] { stdin_from("/dev/null"); },
                        [] { return wait_for_key(200) == NO_KEY ? wait_for_key(5000) : 1; });
    ASSERT_TRUE(child.wait_ready());
    usleep(300000);
    kill(child.pid, SIGTERM);
    const int s = child.status();
    ASSERT_TRUE(WIFEXITED(s)) << "status " << s;
    EXPECT_EQ(WEXITSTATUS(s), KEY_SEEN);
}

TEST(ConsoleKeys, ByteArrivingOnAPipeIsAKeyAndStaysOne) {
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    Child child = spawn(
        [&] {
            dup2(in[0], STDIN_FILENO);
            close(in[0]);
            close(in[1]);
        },
        [] {
            if (wait_for_key(150) != NO_KEY) return 1;
            if (wait_for_key(5000) != KEY_SEEN) return 2;
            return _kbhit() ? KEY_SEEN : 3;
        });
    close(in[0]);
    ASSERT_TRUE(child.wait_ready());
    usleep(300000);
    ASSERT_EQ(write(in[1], "k", 1), 1);
    const int s = child.status();
    close(in[1]);
    ASSERT_TRUE(WIFEXITED(s));
    EXPECT_EQ(WEXITSTATUS(s), KEY_SEEN);
}

TEST(ConsoleKeys, FirstInterruptIsAKeySecondEndsTheProcess) {
    Child child = spawn([] { stdin_from("/dev/null"); },
                        [] {
                            if (wait_for_key(5000) != KEY_SEEN) return 1;
                            pause();  // a run stuck before its shutdown
                            return 2;
                        });
    ASSERT_TRUE(child.wait_ready());
    kill(child.pid, SIGINT);
    usleep(200000);
    kill(child.pid, SIGINT);
    const int s = child.status();
    ASSERT_TRUE(WIFSIGNALED(s)) << "status " << s;
    EXPECT_EQ(WTERMSIG(s), SIGINT);
}

// A terminal on standard input, as the controlling terminal of the child.
class ConsoleKeysOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
        termios tio{};
        ASSERT_EQ(tcgetattr(slave_, &tio), 0);
        ASSERT_NE(tio.c_lflag & ICANON, 0u);
        ASSERT_NE(tio.c_lflag & ECHO, 0u);
    }
    void TearDown() override {
        close(master_);
        close(slave_);
    }
    std::function<void()> take_terminal() {
        return [this] {
            setsid();
            const int fd = open(path_.c_str(), O_RDWR);  // becomes the controlling terminal
            ioctl(fd, TIOCSCTTY, 0);
            dup2(fd, STDIN_FILENO);
            close(fd);
            close(master_);
        };
    }
    tcflag_t local_flags() {
        termios tio{};
        EXPECT_EQ(tcgetattr(slave_, &tio), 0);
        return tio.c_lflag;
    }
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

TEST_F(ConsoleKeysOnTerminal, SingleKeyWithoutEnterIsSeenNotConsumedAndModeRestored) {
    Child child = spawn(take_terminal(), [] {
        if (wait_for_key(100) != NO_KEY) return 1;
        if (wait_for_key(5000) != KEY_SEEN) return 2;
        int waiting = 0;
        ioctl(STDIN_FILENO, FIONREAD, &waiting);
        return waiting == 1 ? KEY_SEEN : 3;
    });
    ASSERT_TRUE(child.wait_ready());
    EXPECT_EQ(local_flags() & (ICANON | ECHO), 0u);
    usleep(200000);
    ASSERT_EQ(write(master_, "q", 1), 1);
    const int s = child.status();
    ASSERT_TRUE(WIFEXITED(s));
    EXPECT_EQ(WEXITSTATUS(s), KEY_SEEN);
    EXPECT_EQ(local_flags() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

TEST_F(ConsoleKeysOnTerminal, ModeRestoredWhenTheProcessIsEndedBySignals) {
    for (int sig : {SIGQUIT, SIGINT}) {
        Child child = spawn(take_terminal(), [] {
            for (;;) pause();
            return 0;
        });
        ASSERT_TRUE(child.wait_ready());
        EXPECT_EQ(local_flags() & (ICANON | ECHO), 0u);
        kill(child.pid, sig);
        if (sig == SIGINT) {  // the first one only asks for the shutdown
            usleep(100000);
            kill(child.pid, sig);
        }
        const int s = child.status();
        ASSERT_TRUE(WIFSIGNALED(s)) << "signal " << sig << " status " << s;
        EXPECT_EQ(WTERMSIG(s), sig);
        EXPECT_EQ(local_flags() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO)) << "signal " << sig;
    }
}

}  // namespace
