// Start and end of the common library.
#pragma once

#include "log.h"

namespace ulmora {

// Registers the log-open callback (an existing one is kept); 0 on success, 1 on failure.
int ClibInit(LogOpenFn openLog);
void ClibShutdown();
bool ClibInitialized();

}  // namespace ulmora
