// Key presses and stop requests for the live run.
//
// Interface:
//   console_keys_setup()    call once when the live run starts, before it
//                           polls for keys.
//   console_keys_restore()  put the console back as it was found; safe to
//                           call again and from a signal handler.  Setup
//                           registers it with atexit, and the handlers of
//                           the signals that end the process run it too.
//   _kbhit()                (platform/windows_api.h) nonzero while a key
//                           press is waiting; it is not consumed.
//
// POSIX, after setup:
//   - standard input a terminal (and this process in its foreground): it is
//     switched to non-canonical, no-echo input, so a single key press is
//     seen without Enter; a byte waiting in it is a key press.
//   - standard input anything else: a byte arriving on it is a key press
//     (it is read and dropped); its end is not, so a run started with
//     </dev/null records until it is signalled.
//   - SIGINT, SIGTERM, SIGHUP and SIGPIPE (the console has gone away) count
//     as a key press, so the run reaches its orderly shutdown.  A second
//     SIGINT ends the process at once, for a run that cannot reach its
//     shutdown.  SIGINT and SIGHUP stay ignored when they were ignored at
//     the start (nohup, background jobs).
//   - Ctrl-Z gives the terminal back while stopped and takes it again on
//     return to the foreground.
// Windows, after setup: a console control handler turns Ctrl-C, Ctrl-Break
// and the closing of the console window, logoff and shutdown into a key
// press in the console input, where _kbhit sees it.  For the last three
// Windows ends the process when the handler returns, so the handler waits
// (a few seconds at most) until the run's end has called
// console_keys_restore.
#pragma once

void console_keys_setup();
void console_keys_restore();
