#include <mutex>

#include "common/log.h"
#include "graph/gst_ref.h"

namespace ulmora {

bool EnsureGstInit() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    GError* err = nullptr;
    ok = gst_init_check(nullptr, nullptr, &err) != FALSE;
    if (!ok) LogPrintf("GStreamer init failed: %s", err ? err->message : "unknown reason");
    if (err) g_error_free(err);
  });
  return ok;
}

}  // namespace ulmora
