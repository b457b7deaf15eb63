// The simulated camera's V4L2 node: "sim:N" answers the requests of devices/v4l2_node.h, so its
// inputs, controls, formats and tuner go through the same code as a real node's.
#pragma once

namespace ulmora {

// Sends "sim:" paths of OpenV4l2Node to the simulated camera; once per process, later calls do nothing.
void SimRegisterNodeOpener();

}  // namespace ulmora
