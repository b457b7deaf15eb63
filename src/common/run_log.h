// Where the run log lives: "nocta.log" beside the program, else under the user's state directory.
#pragma once

#include <cstdio>
#include <string>

namespace ulmora {

// Opens the log, replacing the previous run's; the log-open callback of the program's executables.
FILE* OpenLogFile();

// The choice behind OpenLogFile, with the places given: programDir (ending in '/') when a file can be
// made there, else stateHome/ulmora/ (home/.local/state/ulmora/ when stateHome is unset or relative),
// made when missing. Never the current directory: a program started from a terminal would leave its
// log wherever the person happened to stand. Null when no place works; path names the file opened.
FILE* OpenLogFileIn(const char* programDir, const char* stateHome, const char* home, std::string* path);

}  // namespace ulmora
