#include "common/text_escape.h"

#include <cstdint>
#include <cstdio>

namespace ulmora {
namespace {

// Length of the well-formed UTF-8 sequence of two or more bytes at p, or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b = byte(i);
  size_t n = 0;
  uint32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, cp = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, cp = b & 0x0Fu;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, cp = b & 0x07u;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not text.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    if (b >= 0x80) {
      if (size_t n = Utf8SequenceLength(text, i)) {
        out.append(text.substr(i, n));
        i += n;
        continue;
      }
    }
    switch (b) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        out += hex;
      }
    }
    ++i;
  }
  return out;
}

}  // namespace ulmora
