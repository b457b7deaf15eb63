// What a user chose for a device (control values, video standard, tuner frequency, frame format),
// remembered by the device's stable identity in [brisk].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/controls_desc.h"
#include "devices/v4l2_node.h"

namespace ulmora {

struct RememberedControl {
  uint32_t nId = 0;
  int64_t nValue = 0;
};

// The [brisk] key of a device: "Controls:" and its identity, with what an INI key cannot hold replaced.
std::string RememberedControlsKey(const std::string& identity);

// "00980900:12,009a0901:1"; parsing skips malformed items, a later value of an id replaces an earlier one.
std::string FormatRememberedControls(const std::vector<RememberedControl>& controls);
std::vector<RememberedControl> ParseRememberedControls(const std::string& text);

std::vector<RememberedControl> ReadRememberedControls(const std::string& identity);
// Updates the id's value in place (keeping the order values were first set in) and stores the list.
bool RememberControl(const std::string& identity, uint32_t nId, int64_t nValue);

// Forgets every control value remembered for the device (its controls went back to their defaults).
bool ForgetControls(const std::string& identity);

// Video standard, tuner frequency and frame format chosen for a device.
bool RememberStandard(const std::string& identity, uint64_t nStandard);
bool RememberFrequency(const std::string& identity, uint64_t nHz);
bool RememberFrameFormat(const std::string& identity, const FrameFormatChoice& choice);
// False when nothing (or nothing readable) is remembered.
bool ReadRememberedStandard(const std::string& identity, uint64_t* pnStandard);
bool ReadRememberedFrequency(const std::string& identity, uint64_t* pnHz);
bool ReadRememberedFrameFormat(const std::string& identity, FrameFormatChoice* choice);

// The choice as GStreamer caps text ("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
// "image/jpeg,..."; Y16 as GRAY16_LE, Y16_BE as GRAY16_BE); empty for a pixel format we have no caps
// name for.
std::string FrameFormatCaps(const FrameFormatChoice& choice);
// Why a pixel format cannot be chosen (raw Bayer colour), null when it can.
const char* FrameFormatRefusal(uint32_t nFourcc);

// Sets the remembered control values on the node, in the order they were first set, so an automatic
// mode is switched off before the value it governs is set; a value the device refuses is retried once
// after the others. Actions and volatile values are skipped. Returns how many were applied.
int ApplyRememberedControls(IV4l2Node& node, const std::string& identity);
// Opens the device named by its identity itself; 0 when it cannot be opened.
int ApplyRememberedControls(const std::string& identity);
// The remembered video standard and tuner frequency, for the input routed now. Drivers refuse both
// while buffers exist and a standard resets the format: set them before a stream opens the device.
// Returns how many were applied.
int ApplyRememberedSource(IV4l2Node& node, const std::string& identity);
int ApplyRememberedSource(const std::string& identity);

}  // namespace ulmora
