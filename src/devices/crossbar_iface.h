// A crossbar: physical connectors routed to outputs, possibly fed by further crossbars upstream.
#pragma once

#include <memory>
#include <string>

#include "common/hresult.h"

namespace ulmora {

// Physical connector types, numbered as the persisted "CrosInPhysicalType" expects.
enum PhysicalConnector : int {
  PhysConn_Video_Tuner = 1,
  PhysConn_Video_Composite = 2,
  PhysConn_Video_SVideo = 3,
  PhysConn_Video_RGB = 4,
  PhysConn_Video_YRYBY = 5,
  PhysConn_Video_SerialDigital = 6,
  PhysConn_Video_ParallelDigital = 7,
  PhysConn_Video_SCSI = 8,
  PhysConn_Video_AUX = 9,
  PhysConn_Video_1394 = 10,
  PhysConn_Video_USB = 11,
  PhysConn_Video_VideoDecoder = 12,
  PhysConn_Video_VideoEncoder = 13,
  PhysConn_Audio_Tuner = 0x1000,
  PhysConn_Audio_Line = 0x1001,
  PhysConn_Audio_Mic = 0x1002,
  PhysConn_Audio_AESDigital = 0x1003,
  PhysConn_Audio_SPDIFDigital = 0x1004,
  PhysConn_Audio_SCSI = 0x1005,
  PhysConn_Audio_AUX = 0x1006,
  PhysConn_Audio_1394 = 0x1007,
  PhysConn_Audio_USB = 0x1008,
  PhysConn_Audio_AudioDecoder = 0x1009,
};

// Types from here on are audio connectors; only the ones below are video routes.
constexpr int kFirstAudioConnector = PhysConn_Audio_Tuner;

// The route's menu text: "Video Composite", "Audio Line", ... or "Unknown".
const char* PhysicalTypeName(int physicalType);

// The hardware refused to switch while it streams; stop it, route again, start it again.
constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);

class ICrossbar;
using CrossbarRef = std::shared_ptr<ICrossbar>;

// One crossbar's pins and routing. Inputs and outputs are numbered separately from 0.
class ICrossbar {
 public:
  virtual ~ICrossbar() = default;

  virtual HRESULT GetPinCounts(int* pnOutputs, int* pnInputs) = 0;
  // The pin's related pin (the audio partner of a video pin, -1 when none) and physical type.
  virtual HRESULT GetPinInfo(bool bIsInput, int nIndex, int* pnRelated, int* pnPhysicalType) = 0;
  // S_OK when nOutput can take its signal from nInput, S_FALSE when not.
  virtual HRESULT CanRoute(int nOutput, int nInput) = 0;
  // Routes; VFW_E_NOT_STOPPED when the device must stop streaming first.
  virtual HRESULT Route(int nOutput, int nInput) = 0;
  // The input nOutput is routed from, -1 when none.
  virtual HRESULT GetIsRoutedTo(int nOutput, int* pnInput) = 0;
  // The crossbar whose output *pnOutput feeds input nInput; null when that input is a connector.
  virtual CrossbarRef Upstream(int nInput, int* pnOutput) = 0;
  // The driver's own name of the pin (a V4L2 input's name); empty when it has none.
  virtual std::string PinName(bool bIsInput, int nIndex) = 0;
};

// What feeds the capture device's analog video input: a crossbar output, or nothing.
struct CrossbarFeed {
  CrossbarRef pXbar;
  int nOutput = 0;
};

}  // namespace ulmora
