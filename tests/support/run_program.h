// Runs a program in a directory of its own and collects what it did:
// standard output, standard error and exit status.
#pragma once

#include <fcntl.h>
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

// Runs `program` with `args` in `directory`, standard input from /dev/null.
// With `console_gone` its standard output is a pipe nobody reads any more, as
// after a pager has quit.
inline ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& directory, bool console_gone = false) {
    const std::string out_path = directory + "/.stdout";
    const std::string err_path = directory + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        int console[2] = {-1, open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        if (console_gone && pipe(console) == 0) close(console[0]), std::signal(SIGPIPE, SIG_DFL);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(console[1], 1);
        dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        // Only the three standard descriptors stay open, whatever the test
        // runner left open, so a test can count on the rest.
        close_range(3, ~0u, 0);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    ProgramResult r;
    if (WIFEXITED(wait_status)) r.status = WEXITSTATUS(wait_status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}
