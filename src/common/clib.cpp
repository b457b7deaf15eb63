#include "clib.h"

#include <atomic>

namespace ulmora {
namespace {
std::atomic<bool> g_initialized{false};
}

int ClibInit(LogOpenFn openLog) {
  LogRegisterOpen(openLog);
  g_initialized.store(true);
  return 0;
}

void ClibShutdown() { g_initialized.store(false); }

bool ClibInitialized() { return g_initialized.load(); }

}  // namespace ulmora
