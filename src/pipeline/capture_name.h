// Numbers derived from stream times for capture-file names.
#pragma once

#include <cstdint>

namespace ulmora {

// double -> unsigned with truncation; negative, NaN and out-of-range values give 0 or the maximum
// instead of undefined behaviour.
uint32_t TruncToU32(double v);

// Frame number from 1 for a sample at stream time t (seconds) at rate fps. Demuxers hand out times
// rounded to whole nanoseconds (AVI) or milliseconds (Matroska), so a frame's time can sit just below
// its nominal instant; the number allows for that rounding so consecutive frames never share a name.
uint32_t CaptureFrameNumber(double t, double fps);

// Milliseconds of stream time for the "%t" placeholder.
uint32_t CaptureTimeMs(double t);

}  // namespace ulmora
