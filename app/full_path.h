// The full path of a file the run writes, for the line that tells the user
// where to find it; the name as given when it cannot be worked out.
#pragma once

#include <climits>
#include <cstdlib>

#if !defined(_WIN32)
inline constexpr size_t FULL_PATH_SIZE = PATH_MAX;
#else
inline constexpr size_t FULL_PATH_SIZE = _MAX_PATH;
#endif

inline const char* full_path(const char* name, char (&buffer)[FULL_PATH_SIZE]) {
#if defined(_WIN32)
    return _fullpath(buffer, name, sizeof buffer) ? buffer : name;
#else
    return realpath(name, buffer) ? buffer : name;
#endif
}
