#include "profile_keys.h"

#include <cstring>

#include "common/safe_snprintf.h"
#include "profile.h"

namespace ulmora {
namespace {

using K = ProfileKey;
using E = KeyEncoding;

constexpr ProfileKeyInfo kKeys[] = {
    {K::ProcAuto, "ProcAuto", kSectionNocta, E::Unsigned, 15, nullptr, 22},
    {K::ProcNRH, "ProcNRH", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::ProcNRV, "ProcNRV", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::ProcRMSH, "ProcRMSH", kSectionNocta, E::Hundredths, 200, nullptr, 22},
    {K::ProcRMSV, "ProcRMSV", kSectionNocta, E::Hundredths, 50, nullptr, 22},
    {K::ProcTimeDelay, "ProcTimeDelay", kSectionNocta, E::Unsigned, 0, nullptr, 22},
    {K::ProcCountAccum, "ProcCountAccum", kSectionNocta, E::Signed, 4, nullptr, 22},
    {K::ProcAmp, "ProcAmp", kSectionNocta, E::Signed, 16, nullptr, 22},
    {K::ProcBlackLevel, "ProcBlackLevel", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::ProcGamma, "ProcGamma", kSectionNocta, E::Signed, 128, nullptr, 22},
    {K::ProcColor, "ProcColor", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::ProcFlipH, "ProcFlipH", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::ProcFlipV, "ProcFlipV", kSectionNocta, E::Signed, 0, nullptr, 22},
    {K::CapFormat, "CapFormat", kSectionNocta, E::Text, 0, "#cap%n#_%f", 260},
    {K::CapWorkDir, "CapWorkDir", kSectionNocta, E::Text, 0, "/tmp/", 260},
    {K::CapFramesDelay, "CapFramesDelay", kSectionNocta, E::Unsigned, 0, nullptr, 14},
    {K::CapCount, "CapCount", kSectionNocta, E::Unsigned, 1, nullptr, 14},
    {K::CSGViewLive, "CSGViewLive", kSectionNocta, E::Signed, 1, nullptr, 12},
    {K::ViewMode, "ViewMode", kSectionNocta, E::Signed, 3, nullptr, 12},
    {K::TouchGraph, "TouchGraph", kSectionNocta, E::Signed, 1, nullptr, 14},
    {K::ActivateGraph, "ActivateGraph", kSectionNocta, E::Signed, 0, nullptr, 14},
    {K::CrosInPhysicalType, "CrosInPhysicalType", kSectionNocta, E::Signed, 0, nullptr, 14},
    {K::VideoDevice2, "VideoDevice2", kSectionBrisk, E::Text, 0, "", 1024},
    {K::MasterStream, "MasterStream", kSectionBrisk, E::Signed, 1, nullptr, 14},
    {K::UseTimeLimit, "UseTimeLimit", kSectionBrisk, E::Signed, 0, nullptr, 14},
    {K::TimeLimit, "TimeLimit", kSectionBrisk, E::Signed, 0, nullptr, 14},
    // Recordings from the desktop program; an empty folder is the capture folder.
    {K::RecWorkDir, "RecWorkDir", kSectionNocta, E::Text, 0, "", 260},
    {K::RecFormat, "RecFormat", kSectionNocta, E::Text, 0, "ser", 8},
    {K::RecWhat, "RecWhat", kSectionNocta, E::Text, 0, "processed", 16},
    {K::RecSegment, "RecSegment", kSectionNocta, E::Unsigned, 300, nullptr, 14},
    {K::RecKeepFree, "RecKeepFree", kSectionNocta, E::Unsigned, 512, nullptr, 14},
};

constexpr bool TableInEnumOrder() {
  for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i)
    if (static_cast<size_t>(kKeys[i].id) != i) return false;
  return true;
}
static_assert(TableInEnumOrder(), "the key table must follow ProfileKey");

}  // namespace

const ProfileKeyInfo& KeyInfo(ProfileKey key) { return kKeys[static_cast<size_t>(key)]; }

const ProfileKeyInfo* FindNoctaKey(const char* name) {
  if (!name) return nullptr;
  for (const ProfileKeyInfo& row : kKeys)
    if (strcmp(row.section, kSectionNocta) == 0 && strcmp(row.name, name) == 0) return &row;
  return nullptr;
}

const ProfileKeyInfo* ProfileKeyTable(size_t& count) {
  count = sizeof kKeys / sizeof kKeys[0];
  return kKeys;
}

int32_t ProfileReadInt(ProfileKey key, int32_t def) {
  const ProfileKeyInfo& k = KeyInfo(key);
  return ProfileGetInt(k.section, k.name, def);
}

int32_t ProfileReadInt(ProfileKey key) { return ProfileReadInt(key, KeyInfo(key).defaultValue); }

float ProfileReadHundredths(ProfileKey key) { return static_cast<float>(ProfileReadInt(key) * 0.01); }

size_t ProfileReadText(ProfileKey key, char* buffer, size_t size) {
  const ProfileKeyInfo& k = KeyInfo(key);
  return ProfileGetString(k.section, k.name, k.defaultText, buffer, size);
}

bool ProfileWriteInt(ProfileKey key, int32_t value) {
  const ProfileKeyInfo& k = KeyInfo(key);
  char text[32];
  int n = k.encoding == KeyEncoding::Unsigned ? __SafeSnprintf(text, sizeof text, "%u", static_cast<uint32_t>(value))
                                              : __SafeSnprintf(text, sizeof text, "%d", value);
  if (n < 1 || static_cast<size_t>(n) >= k.bufferSize) return false;
  return ProfileWriteString(k.section, k.name, text);
}

int32_t HundredthsOf(float value) {
  // A float read as n * 0.01 can sit a hair below n / 100 (0.29f is 0.28999999): a plain truncation
  // would lower a threshold by 0.01 at every save. Take the next number when it reads back as value.
  auto n = static_cast<int32_t>(static_cast<double>(value) * 100.0);
  int32_t next = value >= 0 ? n + 1 : n - 1;
  if (static_cast<float>(next * 0.01) == value) return next;
  return n;
}

bool ProfileWriteHundredths(ProfileKey key, float value) { return ProfileWriteInt(key, HundredthsOf(value)); }

bool ProfileWriteText(ProfileKey key, const char* text) {
  const ProfileKeyInfo& k = KeyInfo(key);
  if (!text || !*text) return false;
  return ProfileWriteString(k.section, k.name, text);
}

}  // namespace ulmora
