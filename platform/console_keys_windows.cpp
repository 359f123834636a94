// Console keys on Windows.  See platform/console_keys.h.
//
// Ctrl-C and Ctrl-Break do not reach the console input as keys: they arrive
// as control events on a thread of their own.  The handler puts a Ctrl-C key
// press into the console input, where the run's own _kbhit finds it, so the
// run reaches its orderly shutdown (the modem is told to stop, the files
// are flushed) instead of being ended mid-pass.
#include <cstdlib>

#include "platform/console_keys.h"
#include "platform/windows_api.h"

namespace {

HANDLE console_input = INVALID_HANDLE_VALUE;
HANDLE run_ended = nullptr;  // signalled by console_keys_restore

// Windows allows about 5 s after a close, logoff or shutdown event; the
// orderly end takes one listening pass and a pause, well below this.
constexpr DWORD END_WAIT_MS = 4000;

bool press_ctrl_c() {
    INPUT_RECORD key{};
    key.EventType = KEY_EVENT;
    key.Event.KeyEvent.bKeyDown = TRUE;
    key.Event.KeyEvent.wRepeatCount = 1;
    key.Event.KeyEvent.wVirtualKeyCode = 'C';
    key.Event.KeyEvent.uChar.AsciiChar = 0x03;
    key.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
    DWORD written = 0;
    return WriteConsoleInputA(console_input, &key, 1, &written) && written == 1;
}

BOOL WINAPI on_console_control(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // Without a console input to put it in, let the default handling
        // end the process rather than swallow the user's request.
        return press_ctrl_c() ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends as soon as this returns, whatever it returns:
        // hold it until the run has stopped the modem and closed its files.
        if (!press_ctrl_c()) return FALSE;
        if (run_ended) WaitForSingleObject(run_ended, END_WAIT_MS);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void console_keys_setup() {
    static bool done = false;
    if (done) return;
    done = true;
    // The console's own input, also when standard input is redirected.
    console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    run_ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atexit(console_keys_restore);
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

// The console mode is not changed on Windows: _kbhit sees single keys as
// it is.  Restoring only lets a waiting close handler return.
void console_keys_restore() {
    // The key that ended the run was meant for this program, not for the
    // shell that reads the console next.
    while (_kbhit()) _getch();
    if (run_ended) SetEvent(run_ended);
}
