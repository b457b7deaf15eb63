#include "gui/recording_settings.h"

#include "common/log.h"
#include "settings/profile_keys.h"

namespace ulmora {

const char* const RecordingSettings::kFormats[3] = {"ser", "fits", "mkv"};
const char* const RecordingSettings::kWhats[3] = {"processed", "raw", "sum"};

namespace {

QString ReadText(ProfileKey key) {
  char text[264] = {};
  ProfileReadText(key, text, sizeof text);
  return QString::fromLocal8Bit(text).trimmed();
}

// One of the names allowed, else the default with a log line naming the key.
QString OneOf(ProfileKey key, const char* const (&names)[3]) {
  const QString value = ReadText(key).toLower();
  for (const char* n : names)
    if (value == QLatin1String(n)) return value;
  const ProfileKeyInfo& info = KeyInfo(key);
  LogPrintf("settings: %s=%s names nothing known; %s is used", info.name, qPrintable(value), info.defaultText);
  return QLatin1String(info.defaultText);
}

}  // namespace

RecordingSettings RecordingSettings::Load() {
  RecordingSettings s;
  s.workDir = ReadText(ProfileKey::RecWorkDir);
  s.format = OneOf(ProfileKey::RecFormat, kFormats);
  s.what = OneOf(ProfileKey::RecWhat, kWhats);
  s.segmentS = static_cast<uint32_t>(ProfileReadInt(ProfileKey::RecSegment));
  s.keepFreeMb = static_cast<uint32_t>(ProfileReadInt(ProfileKey::RecKeepFree));
  return s;
}

void RecordingSettings::Save() const {
  // An empty folder is the default: the store keeps a text it is asked to empty, so write a blank.
  ProfileWriteText(ProfileKey::RecWorkDir, workDir.isEmpty() ? " " : workDir.toLocal8Bit().constData());
  ProfileWriteText(ProfileKey::RecFormat, format.toLatin1().constData());
  ProfileWriteText(ProfileKey::RecWhat, what.toLatin1().constData());
  ProfileWriteInt(ProfileKey::RecSegment, static_cast<int32_t>(segmentS));
  ProfileWriteInt(ProfileKey::RecKeepFree, static_cast<int32_t>(keepFreeMb));
}

}  // namespace ulmora
