// Counts every heap allocation of a process, for the no-allocation test.
//
// Loaded with LD_PRELOAD, it stands in for the C library's allocation
// functions (the library's own internal calls come here too), forwards to
// the real ones and, when the process ends, writes the number of calls to
// the file named by VELK_ALLOC_LOG.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
unsigned long allocations;
}

extern "C" {

void* malloc(size_t size) { ++allocations; return __libc_malloc(size); }
void* calloc(size_t count, size_t size) { ++allocations; return __libc_calloc(count, size); }
void* realloc(void* pointer, size_t size) { ++allocations; return __libc_realloc(pointer, size); }
void* memalign(size_t alignment, size_t size) { ++allocations; return __libc_memalign(alignment, size); }
void* aligned_alloc(size_t alignment, size_t size) { ++allocations; return __libc_memalign(alignment, size); }
int posix_memalign(void** result, size_t alignment, size_t size) {
    ++allocations;
    *result = __libc_memalign(alignment, size);
    return *result ? 0 : ENOMEM;
}
void free(void* pointer) { __libc_free(pointer); }

}  // extern "C"

// Runs after exit() has flushed and closed the streams.
__attribute__((destructor)) static void report_allocations() {
    const char* path = std::getenv("VELK_ALLOC_LOG");
    if (!path) return;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lu\n", allocations);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    if (write(fd, text, static_cast<size_t>(length)) < 0) {}  // the test sees the missing count
    close(fd);
}
