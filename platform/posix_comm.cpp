// CreateFileA, SetCommState, SetCommTimeouts, ReadFile, WriteFile,
// ClearCommError and CloseHandle stand-ins on POSIX terminals.
//
// A HANDLE carries the file descriptor plus one, so that neither the zero
// of an unused handle-table entry nor INVALID_HANDLE_VALUE can name a real
// descriptor (0 would be standard input).
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix_dcb_termios.h"
#include "platform/windows_api.h"

namespace {

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }

int fd_of(HANDLE handle) {
    const intptr_t fd = reinterpret_cast<intptr_t>(handle) - 1;
    return fd < 0 || fd > INT_MAX ? -1 : static_cast<int>(fd);
}

speed_t speed_for(DWORD baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: return B0;
    }
}

// Descriptors held exclusively.  On a pseudo-terminal the exclusive flag
// outlives every descriptor for as long as the other side is open, so a run
// that ends without closing its port would refuse the next one; the flag is
// cleared at exit for each port still held.
constexpr int MAX_HELD = 32;
int held[MAX_HELD];
int held_count = 0;

void release_held_at_exit() {
    for (int i = 0; i < held_count; ++i) ioctl(held[i], TIOCNXCL);
}

void note_held(int fd) {
    static bool registered = false;
    if (!registered) registered = std::atexit(release_held_at_exit) == 0;
    if (held_count < MAX_HELD) held[held_count++] = fd;
}

void forget_held(int fd) {
    for (int i = 0; i < held_count; ++i) {
        if (held[i] == fd) {
            held[i] = held[--held_count];
            return;
        }
    }
}

// The path each open descriptor was opened by, so ClearCommError can tell
// that its device node has gone (or names another device by now).
constexpr int MAX_OPENED = 32;
constexpr size_t MAX_PATH_SIZE = 256;
struct Opened {
    int fd;
    char path[MAX_PATH_SIZE];
};
Opened opened[MAX_OPENED];
int opened_count = 0;

void note_opened(int fd, const char* path) {
    if (opened_count >= MAX_OPENED || std::strlen(path) >= MAX_PATH_SIZE) return;
    opened[opened_count].fd = fd;
    std::strcpy(opened[opened_count].path, path);
    ++opened_count;
}

void forget_opened(int fd) {
    for (int i = 0; i < opened_count; ++i) {
        if (opened[i].fd == fd) {
            opened[i] = opened[--opened_count];
            return;
        }
    }
}

// False when the path the descriptor was opened by no longer leads to the
// device the descriptor is on.  A descriptor whose path was not kept
// counts as still there.
bool device_node_present(int fd) {
    for (int i = 0; i < opened_count; ++i) {
        if (opened[i].fd != fd) continue;
        struct stat by_path {};
        struct stat by_fd {};
        if (stat(opened[i].path, &by_path) != 0 || fstat(fd, &by_fd) != 0) return false;
        return by_path.st_dev == by_fd.st_dev && by_path.st_ino == by_fd.st_ino && by_path.st_rdev == by_fd.st_rdev;
    }
    return true;
}

// Raises or drops one modem-control line.  Devices without such lines
// (pseudo-terminals, some USB adapters) answer ENOTTY or EINVAL: that is
// not a failure of the port.
bool set_modem_line(int fd, int line, bool raise) {
    if (ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

}  // namespace

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file) {
    if (file_name == nullptr || creation_disposition != OPEN_EXISTING || flags_and_attributes != 0 ||
        template_file != nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    int mode = 0;
    const DWORD read_write = GENERIC_READ | GENERIC_WRITE;
    if ((desired_access & read_write) == read_write) {
        mode = O_RDWR;
    } else if (desired_access & GENERIC_READ) {
        mode = O_RDONLY;
    } else if (desired_access & GENERIC_WRITE) {
        mode = O_WRONLY;
    } else {
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK only for the open itself: a serial line without carrier
    // would otherwise hold the open until the modem raised DCD.
    int fd = -1;
    do {
        fd = open(file_name, mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return INVALID_HANDLE_VALUE;

    if (share_mode == 0) {
        // flock holds against every opener that locks, root included;
        // TIOCEXCL against other programs, except those run as root.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            // Held by another opener: what the caller reports is a busy port.
            errno = EBUSY;
            return INVALID_HANDLE_VALUE;
        }
        if (isatty(fd) && ioctl(fd, TIOCEXCL) == 0) note_held(fd);
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    note_opened(fd, file_name);
    return handle_of(fd);
}

bool dcb_to_termios(const DCB& dcb, termios& tio) {
    const speed_t speed = speed_for(dcb.BaudRate);
    if (speed == B0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    switch (dcb.ByteSize) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        case 8: tio.c_cflag |= CS8; break;
        default: return false;
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    switch (dcb.Parity) {
        case NOPARITY: break;
        case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: tio.c_cflag |= PARENB; break;
        default: return false;
    }
    if (dcb.fParity && dcb.Parity != NOPARITY) tio.c_iflag |= INPCK;
    switch (dcb.StopBits) {
        case ONESTOPBIT: break;
        case TWOSTOPBITS: tio.c_cflag |= CSTOPB; break;
        default: return false;
    }
    if (dcb.fOutX) tio.c_iflag |= IXON;
    if (dcb.fInX) tio.c_iflag |= IXOFF;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    const int fd = fd_of(file);
    if (fd < 0 || dcb == nullptr) return FALSE;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return FALSE;  // not a terminal: no serial port
    if (!dcb_to_termios(*dcb, tio) || tcsetattr(fd, TCSANOW, &tio) != 0) return FALSE;
    return set_modem_line(fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE) &&
                   set_modem_line(fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE)
               ? TRUE
               : FALSE;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    const int fd = fd_of(file);
    if (fd < 0 || timeouts == nullptr) return FALSE;
    if (timeouts->WriteTotalTimeoutMultiplier != 0 || timeouts->WriteTotalTimeoutConstant != 0) {
        return FALSE;
    }
    const bool totals_zero =
        timeouts->ReadTotalTimeoutMultiplier == 0 && timeouts->ReadTotalTimeoutConstant == 0;
    termios tio{};
    if (!totals_zero || tcgetattr(fd, &tio) != 0) return FALSE;
    if (timeouts->ReadIntervalTimeout == MAXDWORD) {
        tio.c_cc[VMIN] = 0;  // return at once with what has arrived
    } else if (timeouts->ReadIntervalTimeout == 0) {
        tio.c_cc[VMIN] = 1;  // wait for the first byte
    } else {
        return FALSE;
    }
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? TRUE : FALSE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              LPOVERLAPPED overlapped) {
    if (bytes_read != nullptr) *bytes_read = 0;
    const int fd = fd_of(file);
    if (fd < 0 || buffer == nullptr || overlapped != nullptr) return FALSE;
    ssize_t got = 0;
    do {
        got = read(fd, buffer, bytes_to_read);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        // Nothing waiting on a descriptor some other code made non-blocking.
        // Anything else (EIO once the device has gone away) reads nothing.
        return errno == EAGAIN || errno == EWOULDBLOCK ? TRUE : FALSE;
    }
    if (bytes_read != nullptr) *bytes_read = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               LPOVERLAPPED overlapped) {
    if (bytes_written != nullptr) *bytes_written = 0;
    const int fd = fd_of(file);
    if (fd < 0 || (buffer == nullptr && bytes_to_write > 0) || overlapped != nullptr) return FALSE;
    const char* next = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytes_to_write) {
        const ssize_t put = write(fd, next + done, bytes_to_write - done);
        if (put > 0) {
            done += static_cast<DWORD>(put);
            if (bytes_written != nullptr) *bytes_written = done;
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Only if some other code made it non-blocking: wait for room
            // rather than spin.  A hung-up terminal wakes this with POLLHUP
            // and the next write fails.
            pollfd room{fd, POLLOUT, 0};
            if (poll(&room, 1, -1) < 0 && errno != EINTR) return FALSE;
            continue;
        }
        // A terminal whose far end has gone answers EIO (terminals never
        // raise SIGPIPE); the bytes are lost, as on a pulled cable.
        return FALSE;
    }
    return TRUE;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
    if (errors != nullptr) *errors = 0;
    if (status != nullptr) *status = COMSTAT{};
    const int fd = fd_of(file);
    if (fd < 0) return FALSE;
    pollfd port{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&port, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || (port.revents & (POLLHUP | POLLERR | POLLNVAL))) return FALSE;
    if (!device_node_present(fd)) return FALSE;
    if (status != nullptr) {
        int waiting = 0;
        if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) status->cbInQue = static_cast<DWORD>(waiting);
        if (ioctl(fd, TIOCOUTQ, &waiting) == 0 && waiting > 0) status->cbOutQue = static_cast<DWORD>(waiting);
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    const int fd = fd_of(object);
    if (fd < 0) return FALSE;
    // The exclusive flag outlives this descriptor on a terminal that stays
    // open elsewhere (a pseudo-terminal's other side): clear it so the next
    // opener is not refused for a hold that has ended.
    if (isatty(fd)) ioctl(fd, TIOCNXCL);
    forget_held(fd);
    forget_opened(fd);
    return close(fd) == 0 ? TRUE : FALSE;
}
