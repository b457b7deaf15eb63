// Recording formats written through the media framework; the programs join them at start-up.
#pragma once

namespace ulmora {

// Adds "mkv" (lossless FFV1 video in Matroska, in segments when asked) to the recording formats. Safe to
// call more than once.
void RegisterVideoRecordFormats();

}  // namespace ulmora
