#include "devices/controls_store.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <linux/videodev2.h>

#include "common/log.h"
#include "devices/v4l2_query.h"
#include "settings/profile.h"

namespace ulmora {

namespace {

constexpr size_t kStoredTextSize = 8192;

}  // namespace

std::string RememberedControlsKey(const std::string& identity) {
  std::string key = "Controls:" + identity;
  for (char& c : key)
    if (c == '=' || c == '[' || c == ']' || c == '\n' || c == '\r' || c == '\\') c = '_';
  while (!key.empty() && key.back() == ' ') key.back() = '_';
  return key;
}

std::string FormatRememberedControls(const std::vector<RememberedControl>& controls) {
  std::string text;
  for (const RememberedControl& c : controls) {
    char item[48];
    snprintf(item, sizeof item, "%s%08" PRIx32 ":%" PRId64, text.empty() ? "" : ",", c.nId, c.nValue);
    text += item;
  }
  return text;
}

std::vector<RememberedControl> ParseRememberedControls(const std::string& text) {
  std::vector<RememberedControl> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    size_t colon = item.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= item.size()) continue;
    std::string idText = item.substr(0, colon), valueText = item.substr(colon + 1);
    char* idEnd = nullptr;
    char* valueEnd = nullptr;
    errno = 0;
    unsigned long long id = strtoull(idText.c_str(), &idEnd, 16);
    long long value = strtoll(valueText.c_str(), &valueEnd, 10);
    if (errno != 0 || *idEnd != '\0' || *valueEnd != '\0' || id == 0 || id > UINT32_MAX) continue;
    bool bReplaced = false;
    for (RememberedControl& c : out)
      if (c.nId == id) {
        c.nValue = value;
        bReplaced = true;
      }
    if (!bReplaced) out.push_back({static_cast<uint32_t>(id), static_cast<int64_t>(value)});
  }
  return out;
}

std::vector<RememberedControl> ReadRememberedControls(const std::string& identity) {
  std::string text(kStoredTextSize, '\0');
  size_t n = ProfileGetString(kSectionBrisk, RememberedControlsKey(identity).c_str(), "", text.data(), text.size());
  text.resize(n);
  return ParseRememberedControls(text);
}

bool RememberControl(const std::string& identity, uint32_t nId, int64_t nValue) {
  std::vector<RememberedControl> controls = ReadRememberedControls(identity);
  bool bFound = false;
  for (RememberedControl& c : controls)
    if (c.nId == nId) {
      c.nValue = nValue;
      bFound = true;
    }
  if (!bFound) controls.push_back({nId, nValue});
  return ProfileWriteString(kSectionBrisk, RememberedControlsKey(identity).c_str(),
                            FormatRememberedControls(controls).c_str());
}

int ApplyRememberedControls(IV4l2Node& node, const std::string& identity) {
  std::vector<RememberedControl> pending;
  for (const RememberedControl& c : ReadRememberedControls(identity)) {
    v4l2_query_ext_ctrl q{};
    q.id = c.nId;
    if (node.Ioctl(VIDIOC_QUERY_EXT_CTRL, &q) != 0) {
      LogPrintf("Controls: %s has no control %08x now, its remembered value is left", identity.c_str(), c.nId);
      continue;
    }
    if (q.type == V4L2_CTRL_TYPE_BUTTON || (q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_DISABLED))) continue;
    if (c.nValue < q.minimum || c.nValue > q.maximum) {
      LogPrintf("Controls: remembered value %" PRId64 " of %.32s is outside %" PRId64 "..%" PRId64 ", not applied",
                c.nValue, q.name, static_cast<int64_t>(q.minimum), static_cast<int64_t>(q.maximum));
      continue;
    }
    pending.push_back(c);
  }
  int nApplied = 0;
  for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
    std::vector<RememberedControl> refused;
    for (const RememberedControl& c : pending) {
      int err = V4l2SetControl(node, c.nId, c.nValue);
      if (err == 0) {
        ++nApplied;
      } else if (pass == 0) {
        refused.push_back(c);
      } else {
        LogPrintf("Controls: %s refused remembered value %" PRId64 " of control %08x: %s", identity.c_str(),
                  c.nValue, c.nId, V4l2ErrorText(err).c_str());
      }
    }
    pending.swap(refused);
  }
  if (nApplied > 0) LogPrintf("Controls: %d remembered values applied to %s", nApplied, identity.c_str());
  return nApplied;
}

int ApplyRememberedControls(const std::string& identity) {
  if (ReadRememberedControls(identity).empty()) return 0;
  std::string error;
  V4l2NodeRef node = OpenV4l2Node(identity.c_str(), &error);
  if (!node) {
    LogPrintf("Controls: %s", error.c_str());
    return 0;
  }
  return ApplyRememberedControls(*node, identity);
}

}  // namespace ulmora
