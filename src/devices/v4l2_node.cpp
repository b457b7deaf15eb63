#include "devices/v4l2_node.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "common/log.h"
#include "devices/v4l2_describe.h"

namespace ulmora {

namespace {

class V4l2FdNode : public IV4l2Node {
 public:
  V4l2FdNode(int fd, std::string path) : fd(fd), path(std::move(path)) {}
  ~V4l2FdNode() override { close(fd); }
  V4l2FdNode(const V4l2FdNode&) = delete;
  V4l2FdNode& operator=(const V4l2FdNode&) = delete;

  int Ioctl(unsigned long nRequest, void* pArg) override {
    int r = -1;
    do {
      r = ioctl(fd, nRequest, pArg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
  }
  const std::string& Path() const override { return path; }

 private:
  int fd = -1;
  std::string path;
};

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

struct NodeOpener {
  std::string prefix;
  V4l2NodeOpener fn = nullptr;
  NodeLinksReader links = nullptr;
};
using OpenerTable = std::vector<NodeOpener>;

std::atomic<const OpenerTable*> g_openers{nullptr};
std::mutex g_openersWrite;  // one registration at a time; readers never take it

// Every table ever published stays alive: a thread opening a node may still read an older one, and
// registrations are a handful per process. Never destroyed, for threads still opening at exit.
std::vector<std::unique_ptr<const OpenerTable>>& KeptOpenerTables() {
  static auto* kept = new std::vector<std::unique_ptr<const OpenerTable>>();
  return *kept;
}

const NodeOpener* FindEntry(const char* szPath) {
  const OpenerTable* table = g_openers.load(std::memory_order_acquire);
  if (!table || !szPath) return nullptr;
  for (const NodeOpener& o : *table)
    if (std::strncmp(szPath, o.prefix.c_str(), o.prefix.size()) == 0) return &o;
  return nullptr;
}

V4l2NodeOpener FindOpener(const char* szPath) {
  const NodeOpener* e = FindEntry(szPath);
  return e ? e->fn : nullptr;
}

// Replaces the prefix's entry with what change makes of it (a copy of the old one, or a new one).
template <class Change>
void Publish(const char* szPrefix, Change change) {
  std::lock_guard<std::mutex> lock(g_openersWrite);
  const OpenerTable* old = g_openers.load(std::memory_order_relaxed);
  auto table = std::make_unique<OpenerTable>(old ? *old : OpenerTable{});
  NodeOpener entry{szPrefix, nullptr, nullptr};
  for (const NodeOpener& o : *table)
    if (o.prefix == szPrefix) entry = o;
  std::erase_if(*table, [szPrefix](const NodeOpener& o) { return o.prefix == szPrefix; });
  change(entry);
  table->push_back(entry);
  g_openers.exchange(table.get(), std::memory_order_acq_rel);
  KeptOpenerTables().push_back(std::move(table));
}

}  // namespace

V4l2NodeRef IV4l2Node::OpenAgain(std::string* error) { return OpenV4l2Node(Path().c_str(), error); }

void RegisterV4l2NodeOpener(const char* szPrefix, V4l2NodeOpener fn) {
  // An empty prefix would take every path, device files included.
  if (!szPrefix || !*szPrefix || !fn) return;
  Publish(szPrefix, [fn](NodeOpener& e) { e.fn = fn; });
}

void RegisterNodeLinksReader(const char* szPrefix, NodeLinksReader fn) {
  if (!szPrefix || !*szPrefix || !fn) return;
  Publish(szPrefix, [fn](NodeOpener& e) { e.links = fn; });
}

bool ReadRegisteredNodeLinks(const char* szNode, std::string* byId, std::string* byPath) {
  const NodeOpener* e = FindEntry(szNode);
  if (!e || !e->links) return false;
  byId->clear();
  byPath->clear();
  e->links(szNode, byId, byPath);
  return true;
}

V4l2NodeRef OpenV4l2Node(const char* szPath, std::string* error) {
  if (!szPath || !*szPath) {
    Fail(error, "No device was named.");
    return nullptr;
  }
  if (V4l2NodeOpener opener = FindOpener(szPath)) return opener(szPath, error);

  // Non-blocking: nothing we ask may wait on a frame. Control requests still take as long as the
  // device does (a UVC request up to seconds), so the GUI makes them on a worker thread.
  int fd = open(szPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    LogPrintf("V4L2: open %s: %s", szPath, strerror(err));
    Fail(error, std::string("Cannot open device '") + szPath + "': " + strerror(err) + ".");
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    close(fd);
    Fail(error, std::string("'") + szPath + "' is not a device.");
    return nullptr;
  }
  auto node = std::make_shared<V4l2FdNode>(fd, szPath);
  v4l2_capability cap{};
  int err = node->Ioctl(VIDIOC_QUERYCAP, &cap);
  if (err != 0) {
    LogPrintf("V4L2: VIDIOC_QUERYCAP on %s: %s", szPath, strerror(err));
    Fail(error, std::string("'") + szPath + "' is not a video capture device.");
    return nullptr;
  }
  if (!(NodeCapabilities(cap) & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))) {
    Fail(error, std::string("'") + szPath + "' is not a video capture device.");
    return nullptr;
  }
  return node;
}

}  // namespace ulmora
