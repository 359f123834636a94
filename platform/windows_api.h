// The Windows calls that the serial layer and the live run are written
// against, on every platform.
//
// On Windows this is <windows.h> and <conio.h> themselves.  Elsewhere it is
// platform/posix_windows_api.h, a small stand-in with the same names (types,
// constants and calls) built on POSIX terminals, so the code above it is the
// same on both.  Include this header, never the two directly.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <conio.h>
#else
#include "platform/posix_windows_api.h"
#endif
