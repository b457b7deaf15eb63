// Diagnostic log lines: one-line media types, the full dump of the agreed type, and the dump of
// every element and pad of a graph. They only read; every failure becomes a line.
#pragma once

#include <gst/gst.h>

#include "graph/media_names.h"

namespace ulmora {

// "Trying media type %s: major type:  %s,    sub type  :  %s"; a null label prints as empty.
void LogMediaTypeLine(const char* label, const MediaType& mt);
// The full dump; wfx is the audio block (null when there is none), cbWave its valid bytes.
void DumpMediaType(const char* label, const MediaType& mt, const WaveFormatEx* wfx = nullptr, uint32_t cbWave = 0);
void DumpMediaType(const char* label, const CapsMediaType& cmt);
// Elements of the graph are the filters, their pads the pins; null graph: no output.
void DumpGraph(GstElement* graph);

// The identity printed for an object in the dumps: stable while the object lives.
unsigned ObjectIdentity(const void* object);

}  // namespace ulmora
