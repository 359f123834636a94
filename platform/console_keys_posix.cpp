// Console keys on POSIX: terminal mode, stop signals and the _kbhit
// stand-in.  See platform/console_keys.h.
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console_keys.h"
#include "platform/windows_api.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;  // a stop signal has arrived
volatile std::sig_atomic_t mode_applied = 0;     // the terminal is in key mode
volatile std::sig_atomic_t released = 0;         // restored for good: never take it again
bool have_saved_mode = false;                    // saved_mode holds the original
termios saved_mode{};
termios key_mode{};

enum class Input : int {
    Unknown,   // not looked at yet
    Terminal,  // a terminal: poll it, never read it
    Stream,    // a pipe, file or socket: a byte read from it is a key press
    Ended,     // a stream that reached its end, or no standard input at all
};
Input input_kind = Input::Unknown;
bool stream_byte_seen = false;

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int FATAL_SIGNALS[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t FATAL_COUNT = sizeof FATAL_SIGNALS / sizeof FATAL_SIGNALS[0];
struct sigaction previous_fatal[FATAL_COUNT];

bool in_foreground() { return tcgetpgrp(STDIN_FILENO) == getpgrp(); }

// tcsetattr from a background process group would stop the process with
// SIGTTOU; with it blocked the call simply goes through.
void set_terminal(const termios& mode) {
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

void apply_key_mode() {
    if (!have_saved_mode || released || !in_foreground()) return;
    set_terminal(key_mode);
    mode_applied = 1;
}

void restore_terminal() {
    if (!mode_applied) return;
    set_terminal(saved_mode);
    mode_applied = 0;
}

void on_stop_signal(int signal_number) {
    if (signal_number == SIGINT && stop_requested) {
        console_keys_restore();
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    stop_requested = 1;
}

void on_fatal_signal(int signal_number) {
    const int saved_errno = errno;
    console_keys_restore();
    for (size_t i = 0; i < FATAL_COUNT; ++i) {
        if (FATAL_SIGNALS[i] == signal_number) sigaction(signal_number, &previous_fatal[i], nullptr);
    }
    // A fault returns to the faulting instruction, which then meets the
    // previous handler (or the default); a sent signal is sent again.
    if (signal_number == SIGQUIT || signal_number == SIGABRT) std::raise(signal_number);
    errno = saved_errno;
}

void on_suspend(int) {
    const int saved_errno = errno;
    restore_terminal();
    std::raise(SIGSTOP);
    apply_key_mode();  // continued: take the terminal again if in the foreground
    errno = saved_errno;
}

void on_continue(int) {
    const int saved_errno = errno;
    if (!mode_applied) apply_key_mode();
    errno = saved_errno;
}

void install(int signal_number, void (*handler)(int), struct sigaction* previous, bool keep_ignored) {
    struct sigaction old {};
    sigaction(signal_number, nullptr, &old);
    if (keep_ignored && old.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, previous);
}

Input classify_input() {
    if (isatty(STDIN_FILENO)) return Input::Terminal;
    return fcntl(STDIN_FILENO, F_GETFD) >= 0 ? Input::Stream : Input::Ended;
}

// A byte waiting on a stream is read and dropped; only its end stays
// silent, so an unattended run with </dev/null goes on.
bool stream_has_key() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return false;
    if (in.revents & POLLNVAL) {
        input_kind = Input::Ended;
        return false;
    }
    char byte = 0;
    const ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got > 0) {
        stream_byte_seen = true;
        return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        input_kind = Input::Ended;
    }
    return false;
}

}  // namespace

void console_keys_setup() {
    static bool done = false;
    if (done) return;
    done = true;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_mode) == 0) {
        key_mode = saved_mode;
        key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        key_mode.c_cc[VMIN] = 1;
        key_mode.c_cc[VTIME] = 0;
        have_saved_mode = true;
        std::atexit(console_keys_restore);
    }
    // A console that has gone away (a pager that quit) stops the run in
    // order even where the parent ignored SIGPIPE: without it every console
    // write would fail unseen until someone killed the run.
    for (int signal_number : STOP_SIGNALS) {
        install(signal_number, on_stop_signal, nullptr, signal_number == SIGINT || signal_number == SIGHUP);
    }
    for (size_t i = 0; i < FATAL_COUNT; ++i) {
        install(FATAL_SIGNALS[i], on_fatal_signal, &previous_fatal[i], FATAL_SIGNALS[i] == SIGQUIT);
    }
    if (have_saved_mode) {
        install(SIGTSTP, on_suspend, nullptr, true);
        install(SIGCONT, on_continue, nullptr, false);
    }
    apply_key_mode();
}

void console_keys_restore() {
    released = 1;
    // The key that ended the run, and any typed after it, were meant for
    // this program: left in the terminal, the shell would read them next.
    if (mode_applied) tcflush(STDIN_FILENO, TCIFLUSH);
    restore_terminal();
}

int _kbhit() {
    if (stop_requested || stream_byte_seen) return 1;
    if (input_kind == Input::Unknown) input_kind = classify_input();
    switch (input_kind) {
        case Input::Terminal: {
            // Keys typed while this process is in the background belong to
            // the shell.
            if (!in_foreground()) return 0;
            pollfd in{STDIN_FILENO, POLLIN, 0};
            return poll(&in, 1, 0) > 0 && (in.revents & POLLIN) ? 1 : 0;
        }
        case Input::Stream: return stream_has_key() ? 1 : 0;
        default: return 0;
    }
}
