// The seven rows of the control panel: their constant description and the texts they show.
#pragma once

#include <string>

namespace ulmora {

// Position of a trackbar to the text of its value box or of its tooltip.
using PositionText = std::string (*)(int position);

struct PanelRow {
  const char* label;
  int resetId;
  int trackId;
  int valueId;
  int minimum;
  int maximum;
  int initial;
  int gapAbovePx;         // extra space that separates the groups of rows
  PositionText value;     // text of the value box at build time
  PositionText tooltip;   // null: the trackbar has no tooltip
};

enum PanelRowIndex : int { kRowAmp = 0, kRowBlack, kRowGamma, kRowAccum, kRowDelay, kRowNRH, kRowNRV, kPanelRowCount };

const PanelRow& PanelRowAt(int row);
// The row whose reset button, trackbar or value box has this id; -1 for none.
int PanelRowOfId(int id);

// Value texts in the user's units.
std::string AmpPercentText(int sixteenths);      // 16 -> "100%", 24 -> "150.0%"
std::string GammaText(int setting);              // 128 -> "1.000", 256 -> "6.000"
std::string ThresholdText(int hundredths);       // 200 -> "2.000"
std::string ThresholdValueText(float value);     // 2.0f -> "2.000"
std::string IntText(int value);                  // "%d"
std::string UnsignedText(unsigned value);        // "%u"
std::string DelayTimeText(unsigned ms);          // 1500 -> "01:500"

}  // namespace ulmora
