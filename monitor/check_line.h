// The check line that follows every transfer, and `lzhuf_tool check`'s.
#pragma once

#include <cstddef>

#include "lzhuf/lzhuf_decoder.h"

// "### MESSAGE CHECK: OK (n OF m CHARACTERS, CRC xxxx, SENT xxxx)", without
// a line end; DAMAGED in place of OK when the stream is not intact.
inline constexpr size_t CHECK_LINE_SIZE = 96;
void format_check_line(const StreamCheck& c, char (&line)[CHECK_LINE_SIZE]);
