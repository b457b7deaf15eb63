// The toolbar's images and the reset buttons' image, drawn as vector shapes at whatever size and
// pixel ratio they are asked for, so they stay sharp at any scale.
#pragma once

#include <QIcon>

namespace ulmora {

// Images of the toolbar strip: play, pause, stop, capture, live preview, monitor (not on the toolbar),
// default, auto, auto amplification, auto accumulator, auto delay, NR horizontal, NR vertical, record.
enum ToolImage : int {
  kImgPlay = 0,
  kImgPause,
  kImgStop,
  kImgCapture,
  kImgLivePreview,
  kImgUnused,
  kImgDefault,
  kImgAuto,
  kImgAutoAmp,
  kImgAutoAccum,
  kImgAutoDelay,
  kImgNRH,
  kImgNRV,
  kImgRecord,
  kToolImageCount
};

// Logical size of a toolbar image and of the reset button.
constexpr int kToolImageWidth = 16, kToolImageHeight = 15;
constexpr int kResetButtonSize = 17;

QIcon ToolbarIcon(int image);
QIcon ResetIcon();

}  // namespace ulmora
