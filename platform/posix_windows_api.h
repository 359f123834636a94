// Stand-ins for the Windows serial, pause and console calls, built on POSIX
// terminals.  Included through platform/windows_api.h; the names, types and
// meanings are Windows' own, so the code above is the same on both.
//
// Interface:
//   CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr)
//       open an existing device without making it the controlling terminal.
//       Share mode 0 holds it exclusively: a second opener, in this process
//       or another, fails (flock; TIOCEXCL as well, against programs that do
//       not lock, cleared again by CloseHandle or at exit).  Returns
//       INVALID_HANDLE_VALUE on failure.
//   BuildCommDCBA(text, &dcb)
//       fill a DCB from space-separated settings: baud=N, data=5..8,
//       parity=n|e|o, stop=1|2, xon=on|off, to=on|off, odsr=on|off,
//       dtr=on|off, rts=on|off.  Any other word refuses the whole text and
//       leaves the DCB as it was.
//   SetCommState(h, &dcb)
//       raw line at the DCB's speed and data format, receiver on, modem
//       status lines ignored, flow control as the DCB says; DTR and RTS set
//       as the DCB says (a device without them, such as a pseudo-terminal,
//       is not an error).  Reads wait for a byte until SetCommTimeouts says
//       otherwise, so call it after SetCommState.
//   SetCommTimeouts(h, &t)
//       ReadIntervalTimeout = MAXDWORD with zero read totals: reads return
//       at once with what has arrived.  All read fields 0: reads wait for
//       at least one byte.  Write time-outs must be 0.  Nothing else.
//   ReadFile(h, buf, n, &got, nullptr)
//       one read of at most n bytes of what has arrived; a device that has
//       gone away reads 0 bytes (FALSE).
//   WriteFile(h, buf, n, &put, nullptr)
//       writes all n bytes unless the device fails; a terminal that has gone
//       away fails with an error, never with a signal.
//   ClearCommError(h, &errors, &status)
//       TRUE while the port is usable (errors and status report nothing on
//       POSIX).  FALSE once it has gone: the terminal reports a hang-up, or
//       its device node has disappeared or now names another device (an
//       unplugged USB adapter; a hung-up terminal reads 0 bytes forever,
//       so a read alone never tells).
//   CloseHandle(h)
//   Sleep(ms)
//       pauses ms milliseconds; in a VELK_FAST_SLEEP test build 1 ms.
//   _kbhit()
//       nonzero while a key press is waiting; see platform/console_keys.h.
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;  // 32 bits as on Windows, where long is 32 bits
using HANDLE = void*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;

// A macro, as on Windows, so that it is usable in any initialiser.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// The device control block, field for field as Windows lays it out.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
using LPDCB = DCB*;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

// Only the counts of waiting bytes are kept; the flags are all zero here.
struct COMSTAT {
    DWORD cbInQue;
    DWORD cbOutQue;
};
using LPCOMSTAT = COMSTAT*;

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
BOOL BuildCommDCBA(LPCSTR definition, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               LPOVERLAPPED overlapped);
BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status);
BOOL CloseHandle(HANDLE object);
void Sleep(DWORD milliseconds);
int _kbhit();
