// Neutral descriptions of a capture device's settings, for the GUI to turn into dialogs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulmora {

enum class ControlKind { Integer, Integer64, Boolean, Menu, IntegerMenu, Button, Bitmask };

struct ControlMenuEntry {
  int64_t nIndex = 0;  // the value that selects it
  std::string text;
};

struct ControlDescription {
  uint32_t nId = 0;
  uint32_t nClass = 0;  // the control class it is grouped under
  std::string name;
  ControlKind kind = ControlKind::Integer;
  int64_t nMinimum = 0;
  int64_t nMaximum = 0;
  int64_t nStep = 1;
  int64_t nDefault = 0;
  int64_t nValue = 0;      // the current value; 0 for buttons and write-only controls
  bool bReadOnly = false;  // shown, not changeable
  bool bInactive = false;  // changeable, but without effect now (an automatic mode rules it)
  bool bWriteOnly = false;
  bool bVolatile = false;  // the device changes it itself: read it again before showing it
  bool bUpdatesOthers = false;  // setting it may change other controls' flags: describe them again
  bool bExecuteOnWrite = false;  // an action each time it is set (a motor step), never a setting
  bool bAutoMode = false;        // switches an automatic mode that rules other controls
  bool bUnknownValue = false;    // the device did not answer for it: nValue means nothing
  std::vector<ControlMenuEntry> menu;  // menus only, the valid entries in order
};

struct ControlGroupDescription {
  uint32_t nClass = 0;
  std::string name;  // "User Controls", "Camera Controls", ...
  std::vector<ControlDescription> controls;
};

struct VideoStandardDescription {
  uint64_t nId = 0;  // standard bits
  std::string name;
  double dFrameRate = 0.0;
  uint32_t nLines = 0;
};

struct FrameSizeDescription {
  uint32_t nWidth = 0, nHeight = 0;  // discrete size, or the largest of a range
  bool bRange = false;               // any size from the minimum to the maximum in steps
  uint32_t nMinWidth = 0, nMinHeight = 0, nStepWidth = 0, nStepHeight = 0;
  std::vector<double> frameRates;    // discrete rates, highest first
  double dMinFrameRate = 0.0, dMaxFrameRate = 0.0;  // every rate seen, discrete or a range
};

struct FrameFormatDescription {
  uint32_t nFourcc = 0;
  std::string fourcc;  // "YUYV", "MJPG"
  std::string description;
  bool bCompressed = false;
  bool bEmulated = false;  // converted in software by the driver library
  std::vector<FrameSizeDescription> sizes;
};

// "Video Source...": video standard and frame formats.
struct VideoSourceDescription {
  std::vector<VideoStandardDescription> standards;  // empty when the input has none (webcams)
  uint64_t nCurrentStandard = 0;
  std::vector<FrameFormatDescription> formats;
  uint32_t nCurrentFourcc = 0, nCurrentWidth = 0, nCurrentHeight = 0;
};

struct CrossbarPinDescription {
  int nIndex = 0;
  int nPhysicalType = 0;
  std::string typeName;  // "Video Composite", ...
  std::string name;      // the driver's name of the connector, may be empty
  int nRelated = -1;
  int nRoutedTo = -1;             // outputs: the input routed to it
  std::vector<int> routableFrom;  // outputs: the inputs it can take
};

// "Video Crossbar..." and "Second Crossbar...".
struct CrossbarDescription {
  std::vector<CrossbarPinDescription> inputs, outputs;
};

struct TunerAudioMode {
  uint32_t nMode = 0;
  std::string name;
};

// "TV Tuner...".
struct TunerDescription {
  std::string name;
  bool bRadio = false;
  uint64_t nMinHz = 0, nMaxHz = 0, nFrequencyHz = 0;
  uint64_t nStepHz = 0;  // the tuner's resolution
  int nSignalPercent = 0;
  std::vector<TunerAudioMode> audioModes;
  uint32_t nAudioMode = 0;
};

// The frame format chosen in "Video Source...": the graph is built for it the next time.
struct FrameFormatChoice {
  uint32_t nFourcc = 0;
  uint32_t nWidth = 0, nHeight = 0;
  double dFrameRate = 0.0;  // 0: any
};

// Which dialogs the current device offers.
struct DeviceDialogEntries {
  bool bVideoSource = false;
  bool bCaptureFilter = false;
  bool bCrossbar = false;
  bool bSecondCrossbar = false;
  bool bTvTuner = false;
};

}  // namespace ulmora
