// What a device must have before a stream opens it. Drivers refuse an input, a standard or a tuner
// change while buffers exist, and a new standard resets the format to its own lines and rate, so the
// stream is opened only after them.
#pragma once

#include <string>

namespace ulmora {

// Routes the input the crossbar would choose (the type used last), then sets the device's remembered
// standard and frequency, each on a descriptor closed again at once so none keeps streaming rights.
// Nothing is asked of a device without inputs or remembered values; failures are logged only.
void PrepareDeviceForStreaming(const std::string& path, const std::string& identity);

}  // namespace ulmora
