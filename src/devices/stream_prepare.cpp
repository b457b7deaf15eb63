#include "devices/stream_prepare.h"

#include "common/log.h"
#include "devices/controls_store.h"
#include "devices/crossbar.h"
#include "devices/crossbar_inputs.h"

namespace ulmora {

void PrepareDeviceForStreaming(const std::string& path, const std::string& identity) {
  if (path.empty()) return;
  // The standard belongs to an input: the input first.
  if (CrossbarFeed feed = OpenDeviceCrossbar(path.c_str()); feed.pXbar) {
    HRESULT hr = E_FAIL;
    CCrossbar xbar(feed, &hr);
    const int route = SUCCEEDED(hr) ? ChooseInitialRoute(xbar) : -1;
    if (route >= 0 && FAILED(xbar.SetInputIndex(route)))
      LogPrintf("!!! input %d of %s could not be routed before streaming", route, path.c_str());
  }
  if (identity.empty()) return;
  std::string error;
  V4l2NodeRef node = OpenV4l2Node(path.c_str(), &error);
  if (node) ApplyRememberedSource(*node, identity);
}

}  // namespace ulmora
