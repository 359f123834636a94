#include "monitor/check_line.h"

#include <cstdio>

void format_check_line(const StreamCheck& c, char (&line)[CHECK_LINE_SIZE]) {
    std::snprintf(line, sizeof line, "### MESSAGE CHECK: %s (%lld OF %lu CHARACTERS, CRC %04X, SENT %04X)",
                  c.intact ? "OK" : "DAMAGED", static_cast<long long>(c.count), static_cast<unsigned long>(c.length),
                  static_cast<unsigned>(c.computed), static_cast<unsigned>(c.sent));
}
