// The index of every stored setting, and the encodings its owners read and write it with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulmora {

enum class ProfileKey {
  ProcAuto, ProcNRH, ProcNRV, ProcRMSH, ProcRMSV, ProcTimeDelay, ProcCountAccum, ProcAmp,
  ProcBlackLevel, ProcGamma, ProcColor, ProcFlipH, ProcFlipV,
  CapFormat, CapWorkDir, CapFramesDelay, CapCount, CSGViewLive, ViewMode,
  TouchGraph, ActivateGraph, CrosInPhysicalType,
  VideoDevice2, MasterStream, UseTimeLimit, TimeLimit,
  RecWorkDir, RecFormat, RecWhat, RecSegment, RecKeepFree,
};

enum class KeyEncoding { Signed, Unsigned, Hundredths, Text };

struct ProfileKeyInfo {
  ProfileKey id;
  const char* name;
  const char* section;
  KeyEncoding encoding;
  int32_t defaultValue;     // numbers; hundredths for the thresholds
  const char* defaultText;  // texts
  size_t bufferSize;        // a number is written only when its text is shorter; texts: read buffer
};

const ProfileKeyInfo& KeyInfo(ProfileKey key);

// The row of section "nocta" named name, or null.
const ProfileKeyInfo* FindNoctaKey(const char* name);

// Every row, in index order.
const ProfileKeyInfo* ProfileKeyTable(size_t& count);

int32_t ProfileReadInt(ProfileKey key);
int32_t ProfileReadInt(ProfileKey key, int32_t def);  // when the owner's default depends on the run
float ProfileReadHundredths(ProfileKey key);
size_t ProfileReadText(ProfileKey key, char* buffer, size_t size);

// Formats with "%d" or "%u" per the key's encoding; nothing is written unless the text fits the key's buffer.
bool ProfileWriteInt(ProfileKey key, int32_t value);
// value x 100 truncated towards zero, written as "%d".
bool ProfileWriteHundredths(ProfileKey key, float value);
// Empty texts are not written: the stored text stays.
bool ProfileWriteText(ProfileKey key, const char* text);

// value x 100 truncated as the store writes it, exact for every value it read.
int32_t HundredthsOf(float value);

}  // namespace ulmora
