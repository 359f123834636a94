// modem_simulator: stands in for the modem on a pseudo-terminal, so the live
// run can be tried and tested without one.  Options: see usage() below.
//
// It offers the slave side of a pseudo-terminal pair (printing its path as
// the first line of standard output, and linking it to a given path), answers
// every command line with a short echo, sends the monitor text of a capture
// file after "velk Start\r" at the line rate, and stops on "velk Stop\r".
// As a modem left monitoring (by a crashed run, a reset adapter or another
// program) it sends its monitor text from the start instead, commands or not.
// It always ends: on "velk Stop\r", at its time limit, or on a signal.
// It can also take its port away for a while and bring a new one up under
// the same link, as an unplugged USB adapter does.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "tools/whole_file.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double LINE_RATE = 115200.0 / 10.0;  // characters a second: 8N1 is 10 bits each
constexpr size_t MAX_LINE = 256;

// A stretch of silence in the monitor text: after the first `after` bytes.
struct Pause {
    size_t after;
    long long ms;
};

struct Options {
    const char* capture = nullptr;
    const char* link = nullptr;
    const char* record = nullptr;
    const char* record_sent = nullptr;
    double rate = LINE_RATE;  // 0: as fast as the reader takes it
    std::vector<Pause> pauses;  // in the order of the capture
    long long start_delay_ms = 0;
    long long vanish_after = -1;
    long long vanish_ms = 0;
    double time_limit = 120.0;
    bool keep_running = false;
    bool quiet = false;
    bool monitoring = false;  // monitor text from the start, not from "velk Start\r"
    bool silent = false;      // no command is answered
};

volatile std::sig_atomic_t signalled = 0;

void on_signal(int) { signalled = 1; }

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: modem_simulator [options]\n"
                 "\n"
                 "Offers a pseudo-terminal that behaves like the modem: prints the slave path\n"
                 "as the first line of standard output, answers each command line (ended by\n"
                 "CR) with the line and \"OK\", sends monitor text after \"velk Start\\r\" and\n"
                 "stops sending on \"velk Stop\\r\".\n"
                 "\n"
                 "  --capture FILE     monitor text to send after \"velk Start\\r\" (default: none)\n"
                 "  --link PATH        make PATH a symbolic link to the slave, e.g. DIR/ttyS2 for\n"
                 "                     a build whose device prefix is DIR/ttyS to see it as COM3;\n"
                 "                     an existing link there is replaced; removed at the end\n"
                 "  --record FILE      write every byte received to FILE (created anew)\n"
                 "  --record-sent FILE write every byte sent (replies and monitor text) to FILE\n"
                 "  --rate CPS         characters a second (default 11520: 115200 baud at 10 bits\n"
                 "                     a character); 0 sends as fast as the reader takes them\n"
                 "  --pause-after N    after the first N bytes of the capture, send nothing...\n"
                 "  --pause-ms MS      ...for MS milliseconds, then go on; the pair may be given\n"
                 "                     more than once, for pauses at several points\n"
                 "  --start-delay MS   after \"velk Start\\r\" wait MS milliseconds before the first\n"
                 "                     byte of monitor text (default 0: it follows the reply to\n"
                 "                     \"velk Start\\r\" at once)\n"
                 "  --vanish-after N   after the first N bytes of the capture, take the port away:\n"
                 "                     close the pseudo-terminal (the reader sees a hang-up) and\n"
                 "                     remove the link...\n"
                 "  --vanish-ms MS     ...then after MS milliseconds offer a new one under the same\n"
                 "                     link; its \"velk Start\\r\" goes on with the rest of the capture\n"
                 "  --time-limit SEC   end after SEC seconds whatever happens (default 120,\n"
                 "                     at most 3600)\n"
                 "  --monitoring       act as a modem that was left monitoring: send the monitor\n"
                 "                     text from the start (and at once again after vanishing),\n"
                 "                     whatever the commands; replies wait for the end of the\n"
                 "                     report being sent, so they never land inside one\n"
                 "  --silent           answer no command (a modem switched off or not there)\n"
                 "  --keep-running     after \"velk Stop\\r\" wait for the next \"velk Start\\r\" (which\n"
                 "                     sends the capture again from its start) instead of ending\n"
                 "  --quiet            no progress lines on standard error\n"
                 "  --help             this text\n"
                 "\n"
                 "Exit status: 0 after \"velk Stop\\r\", 2 at the time limit, 3 on SIGINT, SIGTERM\n"
                 "or SIGHUP, 1 on a usage or setup error.\n");
}

bool parse_number(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// Returns 0 to go on, or the exit status.
int parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            usage(stdout);
            return -1;
        }
        if (arg == "--keep-running") {
            o.keep_running = true;
            continue;
        }
        if (arg == "--quiet" || arg == "--monitoring" || arg == "--silent") {
            (arg == "--quiet" ? o.quiet : arg == "--monitoring" ? o.monitoring : o.silent) = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "modem_simulator: %s needs a value (or is unknown)\n", arg.c_str());
            return 1;
        }
        const char* value = argv[++i];
        double number = 0;
        if (arg == "--capture") {
            o.capture = value;
        } else if (arg == "--link") {
            o.link = value;
        } else if (arg == "--record") {
            o.record = value;
        } else if (arg == "--record-sent") {
            o.record_sent = value;
        } else if (arg == "--rate" && parse_number(value, 0, 1e9, number)) {
            o.rate = number;
        } else if (arg == "--pause-after" && parse_number(value, 0, 1e15, number)) {
            o.pauses.push_back({static_cast<size_t>(number), 0});
        } else if (arg == "--pause-ms" && !o.pauses.empty() && parse_number(value, 0, 3.6e6, number)) {
            o.pauses.back().ms = static_cast<long long>(number);
        } else if (arg == "--start-delay" && parse_number(value, 0, 3.6e6, number)) {
            o.start_delay_ms = static_cast<long long>(number);
        } else if (arg == "--vanish-after" && parse_number(value, 0, 1e15, number)) {
            o.vanish_after = static_cast<long long>(number);
        } else if (arg == "--vanish-ms" && parse_number(value, 0, 3.6e6, number)) {
            o.vanish_ms = static_cast<long long>(number);
        } else if (arg == "--time-limit" && parse_number(value, 0.001, 3600, number)) {
            o.time_limit = number;
        } else {
            std::fprintf(stderr, "modem_simulator: bad option %s %s\n", arg.c_str(), value);
            return 1;
        }
    }
    std::sort(o.pauses.begin(), o.pauses.end(), [](const Pause& a, const Pause& b) { return a.after < b.after; });
    return 0;
}

// Where a reply may go into monitor text that is flowing: at the start, at
// the end, and after each line outside a report (a report runs from its
// "TYPE:"/"LEN:" line to its "###PAYLOAD_END" line), so that a reply never
// damages a report.
std::vector<size_t> report_breaks(const std::string& text) {
    std::vector<size_t> breaks{0};
    bool inside = false;
    for (size_t begin = 0, end = 0; begin < text.size(); begin = end) {
        end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line(text.data() + begin, end - begin);
        if (line.find("###PAYLOAD_END") != line.npos) {
            inside = false;
        } else if (line.find("TYPE: ") != line.npos || line.find("LEN: ") != line.npos) {
            inside = true;
        }
        if (!inside || end == text.size()) breaks.push_back(end);
    }
    return breaks;
}

void write_all(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
}

struct Simulator {
    Options opt;
    std::string capture;
    int master = -1;
    int slave = -1;  // held so the pair lives while no reader has it open
    int record = -1;
    int record_sent = -1;
    std::string slave_path;
    std::vector<size_t> breaks;  // report_breaks of the capture

    std::string line;         // command line being received; longer ones are cut
    std::string reply;        // waiting to be written, ahead of monitor text
    bool sending = false;     // between Start and Stop
    size_t sent = 0;          // capture bytes written
    Clock::time_point send_start;
    Clock::duration paused_for{};
    size_t pauses_done = 0;
    bool pausing = false;
    Clock::time_point pause_end;
    bool capture_done_told = false;
    bool stop_seen = false;
    bool vanished = false;       // no port at the moment
    bool vanish_done = false;    // the one vanishing has happened
    Clock::time_point return_at;
    Clock::time_point last_write;

    void note(const char* what) const {
        if (!opt.quiet) std::fprintf(stderr, "modem_simulator: %s\n", what);
    }

    // A reply goes out at once, except into monitor text that is flowing:
    // there it waits for the end of the report being sent.
    bool reply_may_go() const {
        return !opt.monitoring || !sending || std::binary_search(breaks.begin(), breaks.end(), sent);
    }

    // Monitor bytes that may be on the line by now: the line rate, less any
    // pause, and never past the pause point before the pause has been made,
    // nor past the end of a report while a reply waits for it.
    size_t capture_due(Clock::time_point now) const {
        if (now < send_start) return std::min(sent, capture.size());  // still within the start delay
        size_t due = capture.size();
        if (opt.rate > 0) {
            const double seconds = std::chrono::duration<double>(now - send_start - paused_for).count();
            const double chars = seconds * opt.rate;
            if (chars < static_cast<double>(due)) due = chars > 0 ? static_cast<size_t>(chars) : 0;
        }
        if (pauses_done < opt.pauses.size()) due = std::min(due, opt.pauses[pauses_done].after);
        if (!reply.empty()) {
            const auto next_break = std::upper_bound(breaks.begin(), breaks.end(), sent);
            if (next_break != breaks.end()) due = std::min(due, *next_break);
        }
        if (opt.vanish_after >= 0 && !vanish_done) {
            due = std::min(due, static_cast<size_t>(opt.vanish_after));
        }
        return due;
    }

    // Monitor text from byte `sent` on, at the line rate from `from` on.
    void send_from(Clock::time_point from) {
        sending = true;
        send_start = from;
        if (opt.rate > 0) {
            send_start += paused_for - std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(static_cast<double>(sent) / opt.rate));
        }
    }

    // From the first byte of the capture.
    void send_anew(Clock::time_point from) {
        sent = 0;
        paused_for = {};
        pauses_done = 0;
        pausing = capture_done_told = false;
        send_from(from);
    }

    void command(const std::string& text) {
        if (text.empty()) return;
        if (!opt.silent) reply += text + "\r\nOK\r\n";
        if (text == "velk Start") {
            // The line rate counts from the end of the start delay.
            const Clock::time_point from = Clock::now() + std::chrono::milliseconds(opt.start_delay_ms);
            if (!sending && vanish_done && sent < capture.size()) {
                send_from(from);
                note("start again: sending the rest of the monitor text");
            } else if (!sending) {
                send_anew(from);
                note("start: sending monitor text");
            }
        } else if (text == "velk Stop") {
            sending = false;
            stop_seen = true;
            note("stop");
        }
    }

    void received(const char* data, size_t size) {
        write_all(record, data, size);
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\r') {
                command(line);
                line.clear();
            } else if (c != '\n') {
                if (line.size() < MAX_LINE) line += c;
            }
        }
    }

    // Writes what it can without waiting; false when the line is full.
    // One write to the line, recorded if it is to be; how much went.
    ssize_t put_on_line(const char* data, size_t size, Clock::time_point now) {
        const ssize_t put = write(master, data, size);
        if (put > 0) {
            write_all(record_sent, data, static_cast<size_t>(put));
            last_write = now;
        }
        return put;
    }

    bool send_some(Clock::time_point now) {
        if (!reply.empty() && reply_may_go()) {
            const ssize_t put = put_on_line(reply.data(), reply.size(), now);
            if (put > 0) reply.erase(0, static_cast<size_t>(put));
            return put > 0 || errno != EAGAIN;
        }
        if (!sending) return true;
        if (pausing) {
            if (now < pause_end) return true;
            pausing = false;
            paused_for += std::chrono::milliseconds(opt.pauses[pauses_done++].ms);
            note("pause over");
        }
        const size_t due = capture_due(now);
        if (sent < due) {
            const ssize_t put = put_on_line(capture.data() + sent, due - sent, now);
            if (put > 0) sent += static_cast<size_t>(put);
            if (put <= 0) return errno != EAGAIN;
        }
        if (pauses_done < opt.pauses.size() && !pausing && sent == opt.pauses[pauses_done].after &&
            sent < capture.size()) {
            pausing = true;
            pause_end = now + std::chrono::milliseconds(opt.pauses[pauses_done].ms);
            // The pause counts from here; bytes that were due during it must
            // not pour out at its end.
            note("pausing");
        }
        if (sent == capture.size() && !capture_done_told) {
            capture_done_told = true;
            note("capture sent");
        }
        return true;
    }

    // Time to take the port away: the capture has reached the vanishing
    // point and the reader has taken every byte of it.  A hang-up discards
    // what is still waiting in the terminal, and a test wants to know which
    // bytes got through.  The terminal counts written bytes as waiting only
    // once it has moved them to its input queue, a little after the write.
    bool vanish_due(Clock::time_point now) const {
        if (!sending || vanish_done || opt.vanish_after < 0 || sent != static_cast<size_t>(opt.vanish_after) ||
            (!reply.empty() && reply_may_go()) || now - last_write < std::chrono::milliseconds(200)) {
            return false;
        }
        int waiting = 0;
        return ioctl(slave, FIONREAD, &waiting) == 0 && waiting == 0;
    }

    bool more_to_send() const {
        return !reply.empty() || (sending && !pausing && sent < capture.size());
    }
};

bool open_pair(Simulator& s) {
    char name[256] = {};
    if (openpty(&s.master, &s.slave, name, nullptr, nullptr) != 0) return false;
    s.slave_path = name;
    termios raw{};
    if (tcgetattr(s.slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(s.slave, TCSANOW, &raw);
    }
    const int flags = fcntl(s.master, F_GETFL);
    return flags >= 0 && fcntl(s.master, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool make_link(const char* link, const std::string& target);
void remove_link(const char* link, const std::string& target);

// Closes both sides of the pseudo-terminal, so a reader holding the slave
// sees a hang-up, and removes the link to it.
void vanish(Simulator& s, Clock::time_point now) {
    s.note("vanishing");
    if (s.opt.link) remove_link(s.opt.link, s.slave_path);
    close(s.master);
    close(s.slave);
    s.master = s.slave = -1;
    s.vanished = s.vanish_done = true;
    s.sending = false;
    s.line.clear();
    s.reply.clear();
    s.return_at = now + std::chrono::milliseconds(s.opt.vanish_ms);
}

bool open_pair(Simulator& s);

// A new pseudo-terminal under the same link.
bool come_back(Simulator& s) {
    if (!open_pair(s) || (s.opt.link && !make_link(s.opt.link, s.slave_path))) return false;
    s.vanished = false;
    s.note("back");
    // A modem that was monitoring goes on with it when its adapter returns,
    // before it is told anything.
    if (s.opt.monitoring) s.send_from(Clock::now());
    return true;
}

bool make_link(const char* link, const std::string& target) {
    struct stat st {};
    if (lstat(link, &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "modem_simulator: %s exists and is not a link\n", link);
            return false;
        }
        unlink(link);
    }
    if (symlink(target.c_str(), link) != 0) {
        std::fprintf(stderr, "modem_simulator: cannot link %s: %s\n", link, std::strerror(errno));
        return false;
    }
    return true;
}

void remove_link(const char* link, const std::string& target) {
    char seen[512] = {};
    const ssize_t n = readlink(link, seen, sizeof seen - 1);
    if (n > 0 && target == std::string(seen, static_cast<size_t>(n))) unlink(link);
}

int run(Simulator& s) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.opt.time_limit));
    char buffer[4096];
    for (;;) {
        if (signalled) return 3;
        Clock::time_point now = Clock::now();
        if (now >= deadline) {
            s.note("time limit reached");
            return 2;
        }
        if (s.vanished) {
            if (now >= s.return_at) {
                if (!come_back(s)) return 1;
            } else {
                usleep(10000);
            }
            continue;
        }
        bool line_full = !s.send_some(now);
        if (s.vanish_due(now)) {
            vanish(s, now);
            continue;
        }
        if (s.stop_seen && s.reply.empty()) {
            // The exclusive flag of the last opener would outlive it on a
            // pseudo-terminal and refuse the next run.
            ioctl(s.slave, TIOCNXCL);
            if (!s.opt.keep_running) return 0;
            s.stop_seen = false;
        }
        // Wake often while monitor text is due, seldom when only listening.
        int wait_ms = s.more_to_send() ? 5 : 50;
        if (s.pausing) wait_ms = 5;
        pollfd fd{s.master, static_cast<short>(POLLIN | (line_full ? POLLOUT : 0)), 0};
        const int ready = poll(&fd, 1, wait_ms);
        if (ready < 0 && errno != EINTR) return 1;
        if (ready > 0 && (fd.revents & POLLIN)) {
            const ssize_t got = read(s.master, buffer, sizeof buffer);
            if (got > 0) s.received(buffer, static_cast<size_t>(got));
        }
        if (ready > 0 && (fd.revents & (POLLHUP | POLLERR)) && !(fd.revents & POLLIN)) {
            // Cannot happen while the slave is held, but never spin on it.
            usleep(10000);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Simulator s;
    const int parsed = parse_options(argc, argv, s.opt);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (s.opt.capture && !read_whole_file(s.opt.capture, s.capture)) {
        std::fprintf(stderr, "modem_simulator: cannot read %s\n", s.opt.capture);
        return 1;
    }
    for (auto [name, fd] : {std::pair{s.opt.record, &s.record}, std::pair{s.opt.record_sent, &s.record_sent}}) {
        if (!name) continue;
        *fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (*fd < 0) {
            std::fprintf(stderr, "modem_simulator: cannot create %s\n", name);
            return 1;
        }
    }
    if (s.opt.monitoring) {
        s.breaks = report_breaks(s.capture);
        s.send_anew(Clock::now());
    }
    if (!open_pair(s)) {
        std::fprintf(stderr, "modem_simulator: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (s.opt.link && !make_link(s.opt.link, s.slave_path)) return 1;

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", s.slave_path.c_str());
    std::fflush(stdout);

    const int status = run(s);
    if (s.opt.link) remove_link(s.opt.link, s.slave_path);
    if (s.record >= 0) close(s.record);
    if (s.record_sent >= 0) close(s.record_sent);
    if (s.master >= 0) close(s.master);
    if (s.slave >= 0) close(s.slave);
    return status;
}
