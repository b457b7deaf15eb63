// The capture-name machinery of the session: directory, template, source name and the file name.
#include <cctype>
#include <cstring>
#include <memory>
#include <new>

#include "capture_name.h"
#include "common/log.h"
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
    memmove(texts_.szWorkDir, dir, n + 1);  // the GUI may pass WorkDir() back
  } else if (strlen(texts_.szWorkDir) > static_cast<size_t>(kMaxWorkDirLen)) {
    texts_.szWorkDir[0] = '\0';
  }
  // Without a directory names are built without one; an empty text keeps it that way.
  if (texts_.szWorkDir[0] == '\0') {
    texts_.nWorkDirLen = 0;
    ParseNameTemplate();
    return 0;
  }
  size_t len = strlen(texts_.szWorkDir);
  if (texts_.szWorkDir[len - 1] != '/') {
    texts_.szWorkDir[len++] = '/';
    texts_.szWorkDir[len] = '\0';
  }
  texts_.nWorkDirLen = static_cast<int32_t>(len);
  ParseNameTemplate();
  return 1;
}

void CSG::SetCapFormat(const char* text) {
  if (!text) text = "";
  size_t n = strnlen(text, kTextSize - 1);
  memmove(texts_.szFormat, text, n);
  texts_.szFormat[n] = '\0';
  ParseNameTemplate();
}

void CSG::SetSourceName(const char* text, int kind) {
  if (!text) text = "";
  int32_t limit = kMaxWorkDirLen - texts_.nWorkDirLen;
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
  memmove(texts_.szSource, start, n);
  texts_.szSource[n] = '\0';
  // The old record's tokens hold the old name: a new one must be published for "%n" to follow.
  ParseNameTemplate();
}

const NameToken* CSG::Tokens() const {
  const NameTemplate* r = naming_.Current();
  return r ? r->tokens : nullptr;
}

void CSG::ParseNameTemplate() {
  SharedTextsChanged(nSharedSeen);
  std::unique_ptr<NameTemplate> rec(new (std::nothrow) NameTemplate);
  if (!rec) {
    LogPrintf("Can`t alloc memory");
    return;  // the record in force stays
  }
  rec->dirLen = texts_.nWorkDirLen > 0 && texts_.nWorkDirLen <= kMaxWorkDirLen + 1 ? texts_.nWorkDirLen : 0;
  memcpy(rec->dir, texts_.szWorkDir, static_cast<size_t>(rec->dirLen));
  memcpy(rec->format, texts_.szFormat, kTextSize);
  rec->format[kTextSize - 1] = '\0';
  memcpy(rec->source, texts_.szSource, kTextSize);
  rec->source[kTextSize - 1] = '\0';
  ParseTokens(*rec);
  // The template is kept as parsed (placeholder added, forbidden characters replaced).
  memcpy(texts_.szFormat, rec->format, kTextSize);
  naming_.Publish(std::move(rec));
}

void CSG::ParseTokens(NameTemplate& rec) {
  NameToken* tokens = rec.tokens;
  const char* source = rec.source;
  char* f = rec.format;
  if (f[0] == '\0') {
    tokens[0].kind = kTokenFrame;
    return;
  }
  int used = 0;
  bool numbered = false;
  size_t i = 0;
  auto add = [&](uint32_t kind, int32_t length, const char* text) {
    tokens[used++] = NameToken{kind, length, text};
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
        case 'd': add(kTokenNone, 0, nullptr); break;
        case 'f': add(kTokenFrame, 0, nullptr); break;
        case 't': add(kTokenTime, 0, nullptr); break;
        case 'n':
          if (source[0]) add(kTokenSource, static_cast<int32_t>(strlen(source)), source);
          break;
        default: break;
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
  CPublished<NameTemplate>::Hold rec(naming_);
  const int32_t dirLen = rec.get() ? rec->dirLen : 0;
  memcpy(stream_.szPath, rec.get() ? rec->dir : "", static_cast<size_t>(dirLen));
  stream_.pName = stream_.szPath + dirLen;
  char* p = stream_.pName;
  int32_t room = 255 - dirLen;
  if (room < 1 || !rec.get()) {
    *p = '\0';
    return;
  }
  const double fps = format_.dFrameRate.load(std::memory_order_relaxed);
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
  for (int i = 0; i < kNameTokenSlots && room > 0 && rec->tokens[i].kind != kTokenEnd; ++i) {
    const NameToken& t = rec->tokens[i];
    switch (t.kind) {
      case kTokenText:
      case kTokenSource: {
        int32_t limit = numbered ? room : room - 10;
        if (limit > 0 && t.text) {
          int32_t n = t.length < limit ? t.length : limit;
          memcpy(p, t.text, static_cast<size_t>(n > 0 ? n : 0));
          p += n > 0 ? n : 0;
          room -= n > 0 ? n : 0;
        }
        break;
      }
      case kTokenTime: putNumber("%7.7u", CaptureTimeMs(sampleTime)); break;
      case kTokenFrame:
        numbered = true;
        putNumber("%5.5u", CaptureFrameNumber(sampleTime, fps));
        break;
      default: break;
    }
  }
  if (!numbered && room > 0) putNumber("%u", CaptureFrameNumber(sampleTime, fps));
  if (room > 3) {
    memcpy(p, ".bmp", 4);
    p += 4;
  }
  *p = '\0';
}

}  // namespace ulmora
