// The table of recording formats, by extension.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <memory>
#include <mutex>
#include <vector>

#include "fits_sink.h"
#include "record_sink.h"
#include "ser_sink.h"

namespace ulmora {
namespace {

using FormatTable = std::vector<RecordFormat>;

// Tables live until exit: a reader may hold one while a later registration replaces it.
std::atomic<const FormatTable*> g_formats{nullptr};
std::mutex g_registerLock;                           // only between registrations; lookups never take it
std::vector<std::unique_ptr<FormatTable>> g_tables;  // under g_registerLock

std::string LowerExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

void RegisterRecordFormat(const RecordFormat& format) {
  std::lock_guard<std::mutex> hold(g_registerLock);
  const FormatTable* old = g_formats.load();
  auto* next = g_tables.emplace_back(std::make_unique<FormatTable>(old ? *old : FormatTable{})).get();
  auto same = std::find_if(next->begin(), next->end(),
                           [&](const RecordFormat& f) { return std::string(f.extension) == format.extension; });
  if (same != next->end())
    *same = format;
  else
    next->push_back(format);
  g_formats.store(next);
}

namespace {
// The formats of this library join the table before the first lookup; a static library's own
// registration objects would be dropped by the linker.
void RegisterBuiltinFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterRecordFormat({"ser", &MakeSerSink, true});
    RegisterRecordFormat({"fits", &MakeFitsSink, true});
    RegisterRecordFormat({"fit", &MakeFitsSink, true});
  });
}
}  // namespace

const RecordFormat* FindRecordFormat(const std::string& path) {
  RegisterBuiltinFormats();
  const FormatTable* table = g_formats.load();
  if (!table) return nullptr;
  const std::string ext = LowerExtension(path);
  for (const RecordFormat& f : *table)
    if (ext == f.extension) return &f;
  return nullptr;
}

}  // namespace ulmora

namespace ulmora {

std::string KnownRecordExtensions() {
  RegisterBuiltinFormats();
  std::string list;
  if (const FormatTable* table = g_formats.load())
    for (const RecordFormat& f : *table) list += (list.empty() ? "." : ", .") + std::string(f.extension);
  return list;
}

}  // namespace ulmora
