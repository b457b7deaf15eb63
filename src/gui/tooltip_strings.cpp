#include "gui/tooltip_strings.h"

#include "gui/command_ids.h"

namespace ulmora {

namespace {

struct IdText {
  int id;
  const char* text;
};

constexpr IdText kStrings[] = {
    {kIdAmpTrack, "Amplification value"},
    {kIdBlackTrack, "Black Level"},
    {kIdGammaTrack, "GAMMA value"},
    {kIdAccumTrack, "Accumulator [frame number]"},
    {kIdDelayTrack, "Delay [frame number]"},
    {kIdNRHTrack, "Jamming Threshold [RMS]"},
    {kIdNRVTrack, "Jamming Threshold [RMS]"},
    {kCmdAutoAmp, "Auto [Amplification]"},
    {kCmdAutoAccum, "Auto [Accumulator]"},
    {kCmdAutoDelay, "Auto [Delay]"},
    {kCmdPlay, "Play [Space]"},
    {kCmdPause, "Pause [Ctrl+U]"},
    {kCmdStop, "Stop [Ctrl+S]"},
    {kCmdAuto, "Auto"},
    {kCmdDefault, "Default"},
    {kCmdLivePreview, "Live Preview"},
    {kCmdNRH, "NR Horizontal banding. \n [dynamic antijamming]"},
    {kCmdNRV, "NR Vertical banding. \n[dynamic antijamming]"},
    {kCmdCaptureToggle, "Capture [F10]"},
    {kCmdRecord, "Record [Ctrl+R]"},
};

}  // namespace

const char* TooltipString(int id) {
  for (const IdText& s : kStrings)
    if (s.id == id) return s.text;
  return nullptr;
}

}  // namespace ulmora
