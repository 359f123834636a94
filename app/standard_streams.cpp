#include "app/standard_streams.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

void open_closed_standard_descriptors() {
#if !defined(_WIN32)
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        // The lowest free number is taken, which is this one: the lower ones
        // are open by now.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) close(opened);
    }
#endif
}
