// Processor identification, written to the log at start.
#pragma once

#include <cstdint>

namespace ulmora {

enum CpuFeature : uint32_t { kCpuMMX = 1, kCpuSSE = 2, kCpuSSE2 = 4, kCpu3DNow = 8 };

struct CpuInfo {
  char vendor[13];
  char modelName[31];
  int32_t family;
  int32_t model;
  int32_t stepping;
  uint32_t supported;
  uint32_t usable;
};
static_assert(sizeof(CpuInfo) <= 64);

// Model name for a vendor, family and model, or "" when the combination is not listed.
const char* CpuModelName(const char* vendor, int family, int model);

// Fills info from CPUID; an empty record on processors without it.
void IdentifyCpu(CpuInfo& info);

// Logs the identification lines for info.
void LogCpuInfo(const CpuInfo& info);

// IdentifyCpu followed by LogCpuInfo.
void ReportCpu();

}  // namespace ulmora
