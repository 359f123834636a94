#include "app/message_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/checked_output.h"
#include "app/utc_time.h"
#include "platform/failure_output.h"

namespace {

constexpr char INDEX_NAME[] = "index.tsv";
constexpr char INDEX_HEADER[] = "file\tsource\tbegan\tended\tend\tverdict\tcharacters\tlength\tannounced\tcrc\tsent\n";
constexpr int MAX_SUFFIX = 10000;  // "-2" .. before giving up on a name

void report(MessageFiles& m, const char* name) {
    if (m.failed) return;
    m.failed = true;
    if (m.live) {
        print_write_failure(name, false);
        return;
    }
    print_write_failure(name, true);
    std::exit(MESSAGE_FILES_FAILED_STATUS);
}

bool make_dir(const char* dir) {
    struct stat info {};
    if (stat(dir, &info) == 0) {
        if ((info.st_mode & S_IFMT) == S_IFDIR) return true;
        errno = ENOTDIR;
        return false;
    }
#if defined(_WIN32)
    return _mkdir(dir) == 0;
#else
    return mkdir(dir, 0777) == 0;
#endif
}

// Opens `path` only if nothing of that name exists yet.
std::FILE* create_new(const char* path) {
#if defined(_WIN32)
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
    return file;
#endif
}

// Gives `from` the name `to` unless something has that name already.
bool rename_if_free(const char* from, const char* to) {
#if defined(_WIN32)
    return std::rename(from, to) == 0;  // refuses to replace an existing file
#else
    if (link(from, to) == 0) {
        unlink(from);  // the message is safe under its new name either way
        return true;
    }
    if (errno == EEXIST) return false;
    // A file system without hard links (FAT on a stick): look, then move.
    struct stat info {};
    if (stat(to, &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from, to) == 0;
#endif
}

// "DIR/START.txt", or "DIR/START-k.txt" from the second try on.
void name_with_suffix(const MessageFiles& m, const char* start, int k, char (&path)[MESSAGE_PATH_SIZE]) {
    if (k <= 1) {
        std::snprintf(path, sizeof path, "%s/%s.txt", m.dir, start);
    } else {
        std::snprintf(path, sizeof path, "%s/%s-%d.txt", m.dir, start, k);
    }
}

// Index values never hold a tab or a line end.
void write_value(std::FILE* index, const char* value) {
    for (const char* c = value; *c != '\0'; ++c) std::fputc(*c == '\t' || *c == '\r' || *c == '\n' ? ' ' : *c, index);
}

void index_path(const MessageFiles& m, char (&path)[MESSAGE_PATH_SIZE]) {
    std::snprintf(path, sizeof path, "%s/%s", m.dir, INDEX_NAME);
}

void write_index_line(MessageFiles& m, const char* file_name, const TransferSummary& s, std::time_t now) {
    if (!m.index) return;
    char began[UTC_TEXT_SIZE] = "";
    char ended[UTC_TEXT_SIZE] = "";
    if (m.live) {
        format_utc_iso(m.began, began);
        format_utc_iso(now, ended);
    }
    char announced[24] = "";
    if (s.announced_length != 0) std::snprintf(announced, sizeof announced, "%lld", static_cast<long long>(s.announced_length));
    write_value(m.index, file_name);
    std::fputc('\t', m.index);
    write_value(m.index, m.source);
    std::fprintf(m.index, "\t%s\t%s\t%s\t%s\t%lld\t%lu\t%s\t%04X\t%04X\n", began, ended, TRANSFER_END_NAMES[s.how],
                 s.check.intact ? "OK" : "DAMAGED", static_cast<long long>(s.check.count),
                 static_cast<unsigned long>(s.check.length), announced, static_cast<unsigned>(s.check.computed),
                 static_cast<unsigned>(s.check.sent));
    char path[MESSAGE_PATH_SIZE];
    index_path(m, path);
    if (!flush_checked(m.index)) report(m, path);
}

}  // namespace

void message_files_open(MessageFiles& m, const char* dir, const char* source, bool live) {
    m.enabled = true;
    m.live = live;
    std::snprintf(m.source, sizeof m.source, "%s", source);
    if (std::strlen(dir) >= sizeof m.dir) {
        errno = ENAMETOOLONG;
        report(m, dir);
        return;
    }
    std::snprintf(m.dir, sizeof m.dir, "%s", dir);
    errno = 0;
    if (!make_dir(m.dir)) {
        report(m, m.dir);
        return;
    }
    char path[MESSAGE_PATH_SIZE];
    index_path(m, path);
    errno = 0;
    m.index = std::fopen(path, "ab");
    if (!m.index) {
        report(m, path);
        return;
    }
    std::fseek(m.index, 0, SEEK_END);
    if (std::ftell(m.index) == 0) std::fputs(INDEX_HEADER, m.index);
    if (!flush_checked(m.index)) report(m, path);
}

void message_files_began(MessageFiles& m, std::time_t now) {
    if (!m.enabled) return;
    ++m.count;
    m.began = now;
    char when[UTC_TEXT_SIZE];
    format_utc_compact(now, when);
    std::snprintf(m.name_start, sizeof m.name_start, "%s-%04u", m.live ? when : m.source, m.count);
    char start[MESSAGE_NAME_SIZE];
    std::snprintf(start, sizeof start, "%s-RECEIVING", m.name_start);
    errno = 0;
    for (int k = 1; k <= MAX_SUFFIX && !m.current; ++k) {
        name_with_suffix(m, start, k, m.current_path);
        m.current = create_new(m.current_path);
        if (!m.current && errno != EEXIST) break;
    }
    if (!m.current) report(m, m.current_path);
}

void message_files_text(MessageFiles& m, const uint8_t* text, uint32_t length) {
    if (!m.current) return;
    errno = 0;
    std::fwrite(text, 1, length, m.current);
    // In a live run a reader can follow the file while the message arrives.
    if (m.live ? !flush_checked(m.current) : std::ferror(m.current) != 0) {
        report(m, m.current_path);
        close_checked(m.current);
    }
}

void message_files_ended(MessageFiles& m, const TransferSummary& summary, std::time_t now) {
    if (!m.enabled) return;
    char start[MESSAGE_NAME_SIZE];
    std::snprintf(start, sizeof start, "%s-%s", m.name_start, summary.check.intact ? "OK" : "DAMAGED");
    char path[MESSAGE_PATH_SIZE];
    name_with_suffix(m, start, 1, path);
    if (m.current) {
        errno = 0;
        if (!close_checked(m.current)) report(m, m.current_path);
        bool renamed = false;
        for (int k = 1; k <= MAX_SUFFIX && !renamed; ++k) {
            name_with_suffix(m, start, k, path);
            errno = 0;
            renamed = rename_if_free(m.current_path, path);
            if (!renamed && errno != EEXIST) break;
        }
        if (!renamed) report(m, path);
    }
    const char* const file_name = path + std::strlen(m.dir) + 1;
    write_index_line(m, file_name, summary, now);
}

void message_files_close(MessageFiles& m) {
    if (!m.index) return;
    char path[MESSAGE_PATH_SIZE];
    index_path(m, path);
    errno = 0;
    if (!close_checked(m.index)) report(m, path);
}
