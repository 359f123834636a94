// Runs a program in a directory of its own and collects what it did:
// standard output, standard error and exit status.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ProgramResult {
    int status = -1000;  // exit status 0..255, or -1000 if it did not exit normally
    std::string out;
    std::string err;
};

inline std::string read_file(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

inline bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/velk_test_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The ELF machine a program is built for (0 if it is no ELF file).
inline unsigned elf_machine(const std::string& path) {
    unsigned char header[20] = {};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header), sizeof header);
    if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return 0;
    return header[5] == 2 ? header[18] * 256u + header[19] : header[18] + header[19] * 256u;
}

// A cross build's tests run under an emulator (VELK_TEST_EMULATOR, e.g.
// qemu-aarch64): the programs they start are the target's too, and the
// emulator starts them, while the host's own programs (/bin/sh) run as they are.
inline void run_through_emulator(std::vector<std::string>& argv) {
    const char* const emulator = std::getenv("VELK_TEST_EMULATOR");
    if (emulator == nullptr || *emulator == '\0' || argv.empty()) return;
    const unsigned machine = elf_machine(argv[0]);
    // Under the emulator this process is the target's too: /bin/sh tells what the kernel runs.
    if (machine != 0 && machine != elf_machine("/bin/sh")) argv.insert(argv.begin(), emulator);
}

// Starts `argv` in `directory` with standard input `in` (-1: /dev/null),
// output `out` and error `err`, as a shell would: SIGPIPE at its default, a
// `terminal` input as the controlling terminal of a session of its own, and
// only the three standard descriptors open, so a test can count on the rest.
// The child has its own copies of `in`, `out` and `err`: they are closed here.
inline pid_t start_program(std::vector<std::string> argv, const std::string& directory, int in, int out,
                           int err, bool terminal = false) {
    run_through_emulator(argv);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid != 0) {
        for (const int fd : {in, out, err}) close(fd);
        return pid;
    }
    if (in < 0) in = open("/dev/null", O_RDONLY);
    if (terminal && (setsid() < 0 || ioctl(in, TIOCSCTTY, 0) != 0)) _exit(127);
    if (chdir(directory.c_str()) != 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    std::signal(SIGPIPE, SIG_DFL);
    close_range(3, ~0u, 0);
    execv(args[0], args.data());
    _exit(127);
}

// Runs `program` with `args` in `directory`, standard input from /dev/null.
// With `console_gone` its standard output is a pipe nobody reads any more, as
// after a pager has quit.
inline ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& directory, bool console_gone = false) {
    const std::string out_path = directory + "/.stdout", err_path = directory + "/.stderr";
    const auto create = [](const std::string& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600); };
    int console[2] = {-1, -1};
    if (console_gone && pipe(console) == 0) close(console[0]);
    else console[1] = create(out_path);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    const int err = create(err_path);
    int wait_status = 0;
    waitpid(start_program(argv, directory, -1, console[1], err), &wait_status, 0);
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1000;
    const ProgramResult r{status, read_file(out_path), read_file(err_path)};
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}
