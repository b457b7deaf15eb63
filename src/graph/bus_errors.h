// Error messages of a graph's bus, as the run log shows them.
#pragma once

#include <gst/gst.h>

#include <string>

namespace ulmora {

// "text (detail)" of an error message; "unknown" when it carries none.
std::string BusErrorText(GstMessage* msg);

// Logs an error message as "!!! graph error: text (detail)".
void LogBusError(GstMessage* msg);

// Takes the oldest error message off the graph's bus and logs it; false when none was waiting.
bool LogNextBusError(GstElement* graph);

}  // namespace ulmora
