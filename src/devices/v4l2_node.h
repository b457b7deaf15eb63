// Our own descriptor of a V4L2 node (or the simulated camera answering the same requests).
#pragma once

#include <memory>
#include <string>

namespace ulmora {

// The V4L2 requests we make, each answered with 0 or an errno value.
class IV4l2Node {
 public:
  virtual ~IV4l2Node() = default;
  virtual int Ioctl(unsigned long nRequest, void* pArg) = 0;
  // What the node was opened as: a device path or link, or "sim:N".
  virtual const std::string& Path() const = 0;
};
using V4l2NodeRef = std::shared_ptr<IV4l2Node>;

// Opens a descriptor of its own on a video capture node; V4L2 allows several opens beside the
// streaming element's. Null, with a plain sentence in *error, when the node is missing or no
// V4L2 capture device.
V4l2NodeRef OpenV4l2Node(const char* szPath, std::string* error);

// The simulated camera's node for "sim:N"; null when the path is not one or the camera is gone.
V4l2NodeRef OpenSimNode(const char* szPath, std::string* error);

}  // namespace ulmora
