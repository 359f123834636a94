// What the command line asks for.
//
// Interface:
//   read_command_line(argc, argv)  the run or answer the arguments ask for.
//                                  An argument that starts with '-' and is
//                                  no option ("-" alone is standard input),
//                                  or more arguments than the run takes, is
//                                  Refused after one line on standard error
//                                  (status 2 is the caller's).
//   take_messages_option(argc, argv, dir)
//                                  "--messages DIR" or "-m DIR" before the
//                                  capture or port: `dir` is set and both
//                                  arguments are taken off the front; false
//                                  (after the refusal line) when DIR is
//                                  missing
//   warn_about_mode(mode)          one line when the live run's mode argument
//                                  is neither 3 nor 4, which then uses 3.
//   print_device_help()            where the COM numbers come from: on POSIX
//                                  which device COM1 is in this build and
//                                  that a device path may be given; on
//                                  Windows the Device Manager.
#pragma once

enum CommandKind { NoArgument, ShowVersion, ShowHelp, ListPorts, CaptureRun, LiveRunOnPort, Refused };

inline constexpr int STATUS_REFUSED = 2;

CommandKind read_command_line(int argc, char** argv);
bool take_messages_option(int& argc, char**& argv, const char*& dir);
void warn_about_mode(const char* mode);
void print_device_help();
