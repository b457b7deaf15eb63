// The current device's settings dialogs, described for the GUI: which exist, what each shows, and
// the changes the user makes in them. Controls work while the device streams; an input, a standard or
// a format the device refuses then (VFW_E_NOT_STOPPED, EBUSY) needs the stream stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/controls_desc.h"
#include "devices/crossbar_iface.h"
#include "devices/v4l2_node.h"

namespace ulmora {

class CDeviceDialogs {
 public:
  // Opens a descriptor of its own on the device named by its identity (a node, a link to one, or
  // "sim:N"); null with a plain sentence in *error when it cannot.
  static std::unique_ptr<CDeviceDialogs> Open(const std::string& identity, std::string* error);
  // crossbar: what feeds the device, null when it has no input choice.
  CDeviceDialogs(std::string identity, V4l2NodeRef node, CrossbarRef crossbar);

  const std::string& Identity() const { return identity; }

  // "Video Source...", "Video Capture Filter...", "Video Crossbar...", "Second Crossbar...", "TV Tuner...".
  DeviceDialogEntries Entries();

  // "Video Capture Filter...": the controls grouped by class, read now.
  bool DescribeControls(std::vector<ControlGroupDescription>* groups, std::string* error);
  bool ReadControl(uint32_t nId, int64_t* pnValue, std::string* error);
  // Sets the control now and remembers the value the device applied (*pnApplied) for this device;
  // buttons, actions (relative motor steps) and values the device changes itself are not remembered.
  bool SetControl(uint32_t nId, int64_t nValue, std::string* error, int64_t* pnApplied = nullptr);
  // Every control back to the device's default, manual values before automatic modes, leaving what
  // an automatic mode rules; the remembered values are forgotten.
  bool ResetControls(std::string* error);
  // The descriptor, for requests made on another thread (a control worker).
  V4l2NodeRef Node() const { return node; }

  // "Video Source...": standards and frame formats.
  bool DescribeSource(VideoSourceDescription* source, std::string* error);
  bool SetStandard(uint64_t nStandard, std::string* error);  // remembered for the device
  // Remembers the format for the device; the caller rebuilds the graph, which asks for it.
  bool ChooseFrameFormat(const FrameFormatChoice& choice, std::string* error);

  // "Video Crossbar..." (nWhich 0) and "Second Crossbar..." (nWhich 1).
  bool DescribeCrossbar(int nWhich, CrossbarDescription* crossbar, std::string* error);
  HRESULT RouteCrossbar(int nWhich, int nOutput, int nInput);

  // "TV Tuner...".
  bool DescribeTuner(TunerDescription* tuner, std::string* error);
  bool SetFrequency(uint64_t nHz, std::string* error);  // remembered for the device
  bool SetAudioMode(uint32_t nMode, std::string* error);

 private:
  CrossbarRef CrossbarAt(int nWhich);
  bool Check(int err, const char* what, std::string* error);

  std::string identity;
  V4l2NodeRef node;
  CrossbarRef crossbar;
};

}  // namespace ulmora
