#include <mutex>

#include "common/log.h"
#include "gst/gst_ref.h"

namespace ulmora {

bool EnsureGstInit() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    GError* raw = nullptr;
    ok = gst_init_check(nullptr, nullptr, &raw) != FALSE;
    GstRef<GError> err = Adopt(raw);
    if (!ok) LogPrintf("GStreamer init failed: %s", err ? err->message : "unknown reason");
  });
  return ok;
}

}  // namespace ulmora
