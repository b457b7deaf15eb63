// Our own descriptor of a V4L2 node (or of a node another library answers for, such as "sim:N").
#pragma once

#include <memory>
#include <string>

namespace ulmora {

// The V4L2 requests we make, each answered with 0 or an errno value.
class IV4l2Node {
 public:
  virtual ~IV4l2Node() = default;
  virtual int Ioctl(unsigned long nRequest, void* pArg) = 0;
  // What the node was opened as: a device path or link, or a registered path such as "sim:N".
  virtual const std::string& Path() const = 0;
  // A second descriptor of the same node, for a request whose effect lasts until the descriptor that
  // made it closes (uvcvideo's streaming rights after S_INPUT or S_FMT); null with *error when gone.
  virtual std::shared_ptr<IV4l2Node> OpenAgain(std::string* error);
};
using V4l2NodeRef = std::shared_ptr<IV4l2Node>;

// Opens a descriptor of its own on a video capture node; V4L2 allows several opens beside the
// streaming element's. A path starting with a registered prefix goes to that prefix's opener instead.
// Null, with a plain sentence in *error, when the node is missing or no V4L2 capture device.
V4l2NodeRef OpenV4l2Node(const char* szPath, std::string* error);

// Opens the node of a path that names no device file; null with a plain sentence in *error.
using V4l2NodeOpener = V4l2NodeRef (*)(const char* szPath, std::string* error);
// Sends every path starting with szPrefix (not empty) to fn (not null); a later call for the same
// prefix replaces the opener. Safe while other threads open nodes (the table is an immutable record
// swapped atomically), though libraries normally register once, when they are switched on.
void RegisterV4l2NodeOpener(const char* szPrefix, V4l2NodeOpener fn);

// The udev-like links of a node another library answers for: the by-id link (empty when the device
// has no serial number) and the by-path one, each empty when there is none.
using NodeLinksReader = void (*)(const char* szNode, std::string* byId, std::string* byPath);
// Like RegisterV4l2NodeOpener, for the links of the prefix's nodes.
void RegisterNodeLinksReader(const char* szPrefix, NodeLinksReader fn);
// False when no reader is registered for the node's prefix.
bool ReadRegisteredNodeLinks(const char* szNode, std::string* byId, std::string* byPath);

}  // namespace ulmora
