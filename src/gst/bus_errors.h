// Error messages of a graph's bus, as the run log shows them.
#pragma once

#include <gst/gst.h>

#include <string>

namespace ulmora {

// "text (detail)" of an error message; "unknown" when it carries none.
std::string BusErrorText(GstMessage* msg);

// Logs an error message as "!!! <what>: text (detail)".
void LogBusError(GstMessage* msg, const char* what = "graph error");

// The cause of the last error message this thread logged, as a person reads it: the text, and the last
// line of the detail in brackets (where the system error usually stands). Empty when none was logged
// since ForgetLastBusError.
const std::string& LastBusError();
void ForgetLastBusError();

// Takes the oldest error message off the graph's bus and logs it; false when none was waiting.
bool LogNextBusError(GstElement* graph);

// Takes every error message waiting on the graph's bus off it and logs each; how many there were.
int LogPendingBusErrors(GstElement* graph, const char* what = "graph error");

}  // namespace ulmora
