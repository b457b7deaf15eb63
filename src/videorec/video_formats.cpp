#include "videorec/video_formats.h"

#include "recording/record_sink.h"
#include "videorec/mkv_sink.h"

namespace ulmora {

void RegisterVideoRecordFormats() {
  // avenc_ffv1 takes GRAY16_LE as well as GRAY8 and gives it back unchanged, so sums keep their 16 bits.
  RegisterRecordFormat(RecordFormat{"mkv", &MakeMkvSink, true});
}

}  // namespace ulmora
