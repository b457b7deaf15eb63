#include "devices/crossbar_iface.h"

namespace ulmora {

const char* PhysicalTypeName(int physicalType) {
  switch (physicalType) {
    case PhysConn_Video_Tuner: return "Video Tuner";
    case PhysConn_Video_Composite: return "Video Composite";
    case PhysConn_Video_SVideo: return "Video SVideo";
    case PhysConn_Video_RGB: return "Video RGB";
    case PhysConn_Video_YRYBY: return "Video YRYBY";
    case PhysConn_Video_SerialDigital: return "Video SerialDigital";
    case PhysConn_Video_ParallelDigital: return "Video ParallelDigital";
    case PhysConn_Video_SCSI: return "Video SCSI";
    case PhysConn_Video_AUX: return "Video AUX";
    case PhysConn_Video_1394: return "Video 1394";
    case PhysConn_Video_USB: return "Video USB";
    case PhysConn_Video_VideoDecoder: return "Video Decoder";
    case PhysConn_Video_VideoEncoder: return "Video Encoder";
    case PhysConn_Audio_Tuner: return "Audio Tuner";
    case PhysConn_Audio_Line: return "Audio Line";
    case PhysConn_Audio_Mic: return "Audio Mic";
    case PhysConn_Audio_AESDigital: return "Audio AESDigital";
    case PhysConn_Audio_SPDIFDigital: return "Audio SPDIFDigital";
    case PhysConn_Audio_SCSI: return "Audio SCSI";
    case PhysConn_Audio_AUX: return "Audio AUX";
    case PhysConn_Audio_1394: return "Audio 1394";
    case PhysConn_Audio_USB: return "Audio USB";
    case PhysConn_Audio_AudioDecoder: return "Audio Decoder";
    default: return "Unknown";
  }
}

}  // namespace ulmora
