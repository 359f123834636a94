// A pseudo-terminal pair for tests that need a terminal or a serial line:
// the slave side stands for the device, the master for what is behind it.
#pragma once

#include <pty.h>
#include <unistd.h>

#include <string>

struct Pty {
    int master = -1;
    int slave = -1;
    std::string name;  // the slave's device path; empty if none could be had

    Pty() {
        char path[256] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0) name = path;
    }
    ~Pty() {
        for (const int fd : {master, slave}) {
            if (fd >= 0) close(fd);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};
