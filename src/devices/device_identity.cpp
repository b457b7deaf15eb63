#include "devices/device_identity.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "devices/v4l2_node.h"
#include "gst/gst_ref.h"

namespace ulmora {
namespace {

constexpr const char* kByIdDir = "/dev/v4l/by-id";
constexpr const char* kByPathDir = "/dev/v4l/by-path";
constexpr const char* kSysClassDir = "/sys/class/video4linux";

std::string RealPath(const char* path) {
  char buf[PATH_MAX] = "";
  return realpath(path, buf) ? std::string(buf) : std::string();
}

// The first link in dir (in name order, so the choice is the same every run) that resolves to target.
std::string LinkTo(const char* dir, const std::string& target) {
  DIR* d = opendir(dir);
  if (!d) return {};
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    const std::string link = std::string(dir) + "/" + n;
    if (RealPath(link.c_str()) == target) return link;
  }
  return {};
}

// Whether the USB device behind a video node has a serial number: udev's by-id name holds it then.
bool HasSerial(const std::string& target, const char* sysClassDir) {
  const size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string file = std::string(sysClassDir) + "/" + name + "/device/../serial";
  FILE* f = std::fopen(file.c_str(), "r");
  if (!f) return false;
  char text[128] = "";
  const bool any = std::fgets(text, sizeof text, f) && text[0] != '\n' && text[0] != '\0';
  std::fclose(f);
  return any;
}

GQuark IdentityQuark() {
  static const GQuark quark = g_quark_from_static_string("ulmora-device-identity");
  return quark;
}

std::string ComputeIdentity(GstDevice* device) {
  std::string path = DevicePathProperty(device);
  if (path.rfind("/dev/", 0) == 0) return StableNodeIdentity(path.c_str());
  std::string byId, byPath;
  if (ReadRegisteredNodeLinks(path.c_str(), &byId, &byPath)) {
    if (!byId.empty()) return byId;
    if (!byPath.empty()) return byPath;
  }
  if (!path.empty()) return path;
  return DeviceDisplayName(device);
}

struct StructureFree {
  void operator()(GstStructure* s) const { gst_structure_free(s); }
};

}  // namespace

std::string StableNodeIdentity(const char* node, const char* byIdDir, const char* byPathDir, const char* sysClassDir) {
  if (!node || !*node) return {};
  const std::string target = RealPath(node);
  if (target.empty()) return node;  // gone: nothing to resolve, the node is all we know
  if (HasSerial(target, sysClassDir ? sysClassDir : kSysClassDir)) {
    std::string link = LinkTo(byIdDir ? byIdDir : kByIdDir, target);
    if (!link.empty()) return link;
  }
  std::string link = LinkTo(byPathDir ? byPathDir : kByPathDir, target);
  return link.empty() ? std::string(node) : link;
}

std::string DevicePathProperty(GstDevice* device) {
  if (!device) return {};
  std::unique_ptr<GstStructure, StructureFree> props(gst_device_get_properties(device));
  if (!props) return {};
  // PipeWire hides the V4L2 provider and names the node "api.v4l2.path"; libcamera has no node at all.
  for (const char* key : {"device.path", "api.v4l2.path", "api.libcamera.path", "object.path", "node.name"}) {
    const char* v = gst_structure_get_string(props.get(), key);
    if (v && *v) return v;
  }
  return {};
}

std::string DeviceIdentity(GstDevice* device) {
  if (!device) return {};
  if (const auto* kept = static_cast<const char*>(g_object_get_qdata(G_OBJECT(device), IdentityQuark()))) return kept;
  const std::string id = ComputeIdentity(device);
  // Set once and never replaced, so a text read by one thread is never freed under it; of two threads
  // asking at once, the first one's stays.
  gchar* mine = g_strdup(id.c_str());
  if (!g_object_replace_qdata(G_OBJECT(device), IdentityQuark(), nullptr, mine, g_free, nullptr)) {
    g_free(mine);
    return static_cast<const char*>(g_object_get_qdata(G_OBJECT(device), IdentityQuark()));
  }
  return id;
}

std::string DeviceDisplayName(GstDevice* device) {
  if (!device) return {};
  const GstRef<gchar> name = Adopt(gst_device_get_display_name(device));
  return name ? name.get() : "";
}

}  // namespace ulmora
