#include "gui/panel_rows.h"

#include <cstdio>

#include "common/time_text.h"
#include "gui/command_ids.h"
#include "processing/frame_processor.h"
#include "processing/tone.h"

namespace ulmora {

namespace {

std::string Printf(const char* format, double value) {
  char text[100] = {};
  snprintf(text, sizeof text, format, value);
  return text;
}

// At build time the delay in frames is estimated at 30 frames per second; later the processor says.
std::string DelayFramesRow(int position) { return UnsignedText(static_cast<unsigned>(position * 0.03)); }
std::string DelayTipRow(int position) { return DelayTimeText(static_cast<unsigned>(position)); }

constexpr PanelRow kRows[kPanelRowCount] = {
    {"Amplification:", kIdAmpReset, kIdAmpTrack, kIdAmpValue, kAmpMin, kAmpMax, kAmpDefault, 0, AmpPercentText, AmpPercentText},
    {"Black Level:", kIdBlackReset, kIdBlackTrack, kIdBlackValue, kBlackMin, kBlackMax, 0, 0, IntText, nullptr},
    {"Gamma:", kIdGammaReset, kIdGammaTrack, kIdGammaValue, kGammaMin, kGammaMax, kGammaLinear, 0, GammaText,
     GammaText},
    {"Accumulator:", kIdAccumReset, kIdAccumTrack, kIdAccumValue, kCountMin, kCountMax, kCountDefault, 10, IntText,
     nullptr},
    {"Delay:", kIdDelayReset, kIdDelayTrack, kIdDelayValue, 0, static_cast<int>(kTimeDelayMaxMs), 0, 0,
     DelayFramesRow, DelayTipRow},
    {"NRH:", kIdNRHReset, kIdNRHTrack, kIdNRHValue, kRmsMin, kRmsMax, 200, 10, ThresholdText, ThresholdText},
    {"NRV:", kIdNRVReset, kIdNRVTrack, kIdNRVValue, kRmsMin, kRmsMax, 50, 0, ThresholdText, ThresholdText},
};

}  // namespace

const PanelRow& PanelRowAt(int row) { return kRows[row < 0 ? 0 : (row >= kPanelRowCount ? kPanelRowCount - 1 : row)]; }

int PanelRowOfId(int id) {
  for (int i = 0; i < kPanelRowCount; ++i)
    if (id == kRows[i].resetId || id == kRows[i].trackId || id == kRows[i].valueId) return i;
  return -1;
}

std::string AmpPercentText(int sixteenths) {
  if (sixteenths % 16 == 0) return UnsignedText(static_cast<unsigned>(sixteenths / 16 * 100)) + "%";
  return Printf("%.1f%%", static_cast<double>(static_cast<float>(sixteenths) / 16.0f * 100.0f));
}

std::string GammaText(int setting) {
  return Printf("%.3f", GammaFactor(static_cast<uint32_t>(setting < 1 ? 1 : setting)));
}

std::string ThresholdText(int hundredths) { return ThresholdValueText(static_cast<float>(hundredths) * 0.01f); }

std::string ThresholdValueText(float value) { return Printf("%.3f", static_cast<double>(value)); }

std::string IntText(int value) { return std::to_string(value); }

std::string UnsignedText(unsigned value) { return std::to_string(value); }

std::string DelayTimeText(unsigned ms) {
  char text[100] = {};
  FormatTimeMs(text, sizeof text, ms);
  return text;
}

}  // namespace ulmora
