#pragma once
// The command line for batch use:
//   Framestamp IN.avi -o OUT.avi [--no-date] [--no-time] [--white]
//   Framestamp A.avi B.avi ... -o FOLDER [...]
// One input goes to OUT (or into OUT when that is a folder); several go into the folder OUT,
// each under its own file name. A progress bar per file on a terminal. Exit code 0 only when
// every file was exported whole.

namespace fsv::framestamp {

// True when the arguments are for the dialogs: none, or a single one that is not an option
// (the input path, taken as it is).
bool wantsDialogs(int argc, char** argv);

// Needs a QGuiApplication (for the fonts).
int runCommandLine(int argc, char** argv);

}  // namespace fsv::framestamp
