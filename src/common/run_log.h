// Where the run log lives: "nocta.log" beside the program, or in the current directory.
#pragma once

#include <cstdio>

namespace ulmora {

// Opens the log, replacing the previous run's; the log-open callback of the program's executables.
FILE* OpenLogFile();

}  // namespace ulmora
