// The capture-name machinery of the session: directory, template, source name and the file name.
#include <cctype>
#include <cstring>

#include "capture_name.h"
#include "common/safe_snprintf.h"
#include "sg.h"
#include "sg_shared.h"

namespace ulmora {
namespace {

bool EndsSegment(char c) { return c == '\0' || c == '|' || c == '%'; }

// Characters that may not appear in a capture-file name: controls, path and shell-special characters
// and the template's own markers.
bool ForbiddenInName(unsigned char c) { return c < 32 || strchr("\"/><*?|%#&", c) != nullptr; }

// Characters that end a device's name; what follows (model suffixes, bus ids) is not kept.
bool EndsDeviceName(unsigned char c) { return c < 32 || c > 127 || strchr("\"/><*?|#& %()[]{}=", c) != nullptr; }

}  // namespace

int CSG::SetWorkDir(const char* dir) {
  if (dir) {
    size_t n = strlen(dir);
    if (n > static_cast<size_t>(kMaxWorkDirLen)) return 0;
    memmove(szWorkDir, dir, n + 1);  // the GUI may pass WorkDir() back
  } else if (strlen(szWorkDir) > static_cast<size_t>(kMaxWorkDirLen)) {
    szWorkDir[0] = '\0';
  }
  // Without a directory there is nothing to build names behind; an empty text keeps it that way.
  if (szWorkDir[0] == '\0') {
    nWorkDirLen = 0;
    pName = szPath;
    *pName = '\0';
    SharedTextsChanged(nSharedSeen);
    return 0;
  }
  size_t len = strlen(szWorkDir);
  if (szWorkDir[len - 1] != '/') {
    szWorkDir[len++] = '/';
    szWorkDir[len] = '\0';
  }
  nWorkDirLen = static_cast<int32_t>(len);
  memcpy(szPath, szWorkDir, len);
  pName = szPath + len;
  *pName = '\0';
  ParseNameTemplate();
  return 1;
}

void CSG::SetCapFormat(const char* text) {
  if (!text) text = "";
  size_t n = strnlen(text, kTextSize - 1);
  memmove(szFormat, text, n);
  szFormat[n] = '\0';
  ParseNameTemplate();
}

void CSG::SetSourceName(const char* text, int kind) {
  if (!szSource) return;
  if (!text) text = "";
  int32_t limit = kMaxWorkDirLen - nWorkDirLen;
  if (limit < 0) limit = 0;
  const char* start = text;
  size_t n = 0;
  if (kind == kSourceDevice) {
    while (*start && isspace(static_cast<unsigned char>(*start))) ++start;
    while (start[n] && !EndsDeviceName(static_cast<unsigned char>(start[n]))) ++n;
  } else {
    start = text + FileTitleOffset(text);
    n = FileTitleLength(text);
  }
  if (n > static_cast<size_t>(limit)) n = static_cast<size_t>(limit);
  memmove(szSource, start, n);
  szSource[n] = '\0';
  if (kind != kSourceDevice && n == 0) ParseNameTemplate();
}

void CSG::ParseNameTemplate() {
  if (!pTokens) return;
  for (int i = 0; i < kNameTokenSlots; ++i) pTokens[i] = NameToken{};
  SharedTextsChanged(nSharedSeen);
  char* f = szFormat;
  if (f[0] == '\0') {
    pTokens[0].kind = kTokenFrame;
    return;
  }
  int used = 0;
  bool numbered = false;
  size_t i = 0;
  auto add = [&](uint32_t kind, int32_t length, const char* text) {
    pTokens[used++] = NameToken{kind, length, text};
    if (kind == kTokenTime || kind == kTokenFrame) numbered = true;
  };
  for (;;) {
    int freeSlots = kNameTokenSlots - used;
    if (!((numbered && freeSlots >= 1) || (!numbered && freeSlots >= 2))) break;
    if (f[i] == '\0') break;
    char c = f[i];
    // A leading '|' would start an empty piece that never moves on: it is skipped like any other.
    if (c == '#' || (i == 0 && c != '%' && c != '|')) {
      if (c == '#') ++i;
      if (f[i] == '\0') break;
      size_t start = i;
      while (!EndsSegment(f[i])) ++i;
      size_t n = i - start;
      if (n == 0) continue;
      // Every piece is its own token. A piece is never directly behind the previous one (a '|' or a
      // dropped placeholder lies between), so joining them would put that text into the name.
      for (size_t k = start; k < i; ++k)
        if (ForbiddenInName(static_cast<unsigned char>(f[k]))) f[k] = '_';
      add(kTokenText, static_cast<int32_t>(n), f + start);
    } else if (c == '%') {
      ++i;
      if (f[i] == '\0') break;
      size_t n = 0;
      while (!EndsSegment(f[i + n])) ++n;
      if (n == 0) continue;
      switch (f[i]) {
        case 'd':
          add(kTokenNone, 0, nullptr);
          break;
        case 'f':
          add(kTokenFrame, 0, nullptr);
          break;
        case 't':
          add(kTokenTime, 0, nullptr);
          break;
        case 'n':
          if (szSource && szSource[0]) add(kTokenSource, static_cast<int32_t>(strlen(szSource)), szSource);
          break;
        default:
          break;
      }
      i += n;
    } else {
      ++i;
    }
  }
  if (!numbered && used < kNameTokenSlots) {
    add(kTokenFrame, 0, nullptr);
    size_t len = strlen(f);
    if (len < 258) memcpy(f + len, "%f", 3);
  }
}

void CSG::BuildCaptureName(double sampleTime) {
  char* p = pName;
  int32_t room = 255 - nWorkDirLen;
  if (room < 1) {
    *p = '\0';
    return;
  }
  bool numbered = false;
  auto putNumber = [&](const char* format, uint32_t value) {
    int n = __SafeSnprintf(p, static_cast<size_t>(room), format, value);
    if (n <= 0) {
      *p = '\0';
      return;
    }
    numbered = true;
    p += n;
    room -= n;
  };
  for (int i = 0; pTokens && i < kNameTokenSlots && room > 0 && pTokens[i].kind != kTokenEnd; ++i) {
    const NameToken& t = pTokens[i];
    switch (t.kind) {
      case kTokenText:
      case kTokenSource: {
        int32_t limit = numbered ? room : room - 10;
        if (limit > 0 && t.text) {
          int32_t n = t.length < limit ? t.length : limit;
          // The GUI may re-parse while a frame names its file: never copy past the text's end.
          size_t have = strnlen(t.text, static_cast<size_t>(n > 0 ? n : 0));
          memcpy(p, t.text, have);
          p += have;
          room -= static_cast<int32_t>(have);
        }
        break;
      }
      case kTokenTime:
        putNumber("%7.7u", CaptureTimeMs(sampleTime));
        break;
      case kTokenFrame:
        numbered = true;
        putNumber("%5.5u", CaptureFrameNumber(sampleTime, dFrameRate));
        break;
      default:
        break;
    }
  }
  if (!numbered && room > 0) putNumber("%u", CaptureFrameNumber(sampleTime, dFrameRate));
  if (room > 3) {
    memcpy(p, ".bmp", 4);
    p += 4;
  }
  *p = '\0';
}

}  // namespace ulmora
