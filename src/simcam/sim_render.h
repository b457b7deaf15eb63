// Frames of the simulated camera: the low-light scene of each input, drawn cheaply enough for
// 1080p at 30 fps. Noise comes from a table made once (each row starts at a pseudo-random place
// in it), banding and the controls fold into one multiply and add per pixel.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "simcam/lowlight_scene.h"
#include "simcam/sim_setup.h"
#include "simcam/sim_state.h"

namespace ulmora {

class SimFrameRenderer {
 public:
  // nDevice and nInputs choose the scenes: every device and input shows its own.
  SimFrameRenderer(int32_t nWidth, int32_t nHeight, int32_t nDevice, int32_t nInputs);

  int32_t Width() const { return nWidth_; }
  int32_t Height() const { return nHeight_; }

  // Makes the input's scene now rather than on its first frame (a few ms at 1080p).
  void Prepare(int32_t nInput) { Scene(nInput); }

  // Draws frame n of an input. planes/strides: YUY2, BGR and Y16 one plane, I420 three.
  void Render(int64_t nFrame, int32_t nInput, const SimControlValues& controls, SimPixelFormat format,
              uint8_t* const planes[3], const int32_t strides[3]);

 private:
  const LowLightScene& Scene(int32_t nInput);
  void RenderLine(const LowLightScene& scene, int32_t y, int32_t nMul, int32_t nAdd, uint32_t nNoiseStart, bool bFlip,
                  uint8_t* out);

  int32_t nWidth_ = 0, nHeight_ = 0, nDevice_ = 0;
  std::vector<std::unique_ptr<LowLightScene>> inputs_;  // made on first use
  std::vector<int8_t> noise_;                           // triangular sensor noise
  std::vector<int32_t> rows_, cols_;                    // banding of the current frame
  std::vector<uint8_t> line_;
};

}  // namespace ulmora
