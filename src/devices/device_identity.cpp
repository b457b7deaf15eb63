#include "devices/device_identity.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gst/gst_ref.h"

namespace ulmora {
namespace {

constexpr const char* kByIdDir = "/dev/v4l/by-id";
constexpr const char* kByPathDir = "/dev/v4l/by-path";

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

struct StructureFree {
  void operator()(GstStructure* s) const { gst_structure_free(s); }
};

}  // namespace

std::string StableNodeIdentity(const char* node, const char* byIdDir, const char* byPathDir) {
  if (!node || !*node) return {};
  const std::string target = RealPath(node);
  if (target.empty()) return node;  // gone: nothing to resolve, the node is all we know
  for (const char* dir : {byIdDir ? byIdDir : kByIdDir, byPathDir ? byPathDir : kByPathDir}) {
    std::string link = LinkTo(dir, target);
    if (!link.empty()) return link;
  }
  return node;
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
  std::string path = DevicePathProperty(device);
  if (path.rfind("/dev/", 0) == 0) return StableNodeIdentity(path.c_str());
  if (!path.empty()) return path;
  return DeviceDisplayName(device);
}

std::string DeviceDisplayName(GstDevice* device) {
  if (!device) return {};
  const GstRef<gchar> name = Adopt(gst_device_get_display_name(device));
  return name ? name.get() : "";
}

}  // namespace ulmora
