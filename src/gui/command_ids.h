// Command ids of the main window's menu, accelerators, toolbar and panel controls.
#pragma once

namespace ulmora {

enum CommandId : int {
  // "&Control"
  kCmdPlay = 40001,
  kCmdPause = 40002,
  kCmdStop = 40003,
  kCmdExit = 40007,
  kCmdCapture = 40009,  // the Capture dialog
  kCmdLivePreview = 40022,
  kCmdRecord = 40080,           // starts or stops a recording
  kCmdRecordingDialog = 40081,  // the Recording dialog
  // "&Processing"
  kCmdAuto = 40015,
  kCmdDefault = 40016,
  kCmdNRH = 40070,
  kCmdNRV = 40071,
  kCmdFlipV = 40175,
  // "Help"
  kCmdContent = 40017,
  kCmdAbout = 40018,
  kCmdSendMail = 40073,
  kCmdWebProduct = 40074,
  kCmdWebMaker = 40075,
  // Toolbar and F10
  kCmdCaptureToggle = 40072,
  kCmdAutoAmp = 1043,
  kCmdAutoAccum = 1044,
  kCmdAutoDelay = 1045,
  // "Sources": device items and the property pages / video inputs (inclusive ranges)
  kCmdDeviceFirst = 40030,
  kCmdDeviceLast = 40039,
  kCmdSourcePageFirst = 40050,
  kCmdSourcePageLast = 40069,
};

// Panel rows: reset button, trackbar and value box of each of the seven rows.
enum PanelControlId : int {
  kIdAmpReset = 1021, kIdAmpTrack = 1022, kIdAmpValue = 1023,
  kIdBlackReset = 1024, kIdBlackTrack = 1025, kIdBlackValue = 1026,
  kIdGammaReset = 1027, kIdGammaTrack = 1028, kIdGammaValue = 1029,
  kIdAccumReset = 1030, kIdAccumTrack = 1031, kIdAccumValue = 1032,
  kIdDelayReset = 1033, kIdDelayTrack = 1034, kIdDelayValue = 1035,
  kIdNRHReset = 1036, kIdNRHTrack = 1037, kIdNRHValue = 1038,
  kIdNRVReset = 1039, kIdNRVTrack = 1040, kIdNRVValue = 1041,
  kIdDelayBox = 1042,  // the toolbar's delay box
  kIdToolbar = 9,
};

// Popups of the menu bar, found by position.
enum MenuPopupIndex : int { kPopupControl = 0, kPopupSources = 1, kPopupProcessing = 2, kPopupHelp = 3 };

}  // namespace ulmora
