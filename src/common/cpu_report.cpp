#include "cpu_report.h"

#include <cstring>

#include "log.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define ULMORA_HAVE_CPUID 1
#endif

namespace ulmora {
namespace {

struct ModelRow {
  const char* vendor;
  int family;
  int modelLo, modelHi;  // -1, -1: any model
  const char* name;
};

constexpr const char* kAmd = "AuthenticAMD";
constexpr const char* kIntel = "GenuineIntel";

// Checked in order; the last Intel family-15 row catches the models the row before it leaves.
constexpr ModelRow kModels[] = {
    {kAmd, 4, -1, -1, "AMD Am486"},          {kAmd, 5, 0, 3, "AMD K5"},
    {kAmd, 5, 6, 7, "AMD K6"},               {kAmd, 5, 8, 8, "AMD K6-2"},
    {kAmd, 5, 9, 15, "AMD K6-3"},            {kAmd, 6, -1, -1, "AMD ATHLON"},
    {kIntel, 4, 0, 1, "INTEL 486DX"},        {kIntel, 4, 2, 2, "INTEL 486SX"},
    {kIntel, 4, 3, 3, "INTEL 486DX2"},       {kIntel, 4, 4, 4, "INTEL 486SL"},
    {kIntel, 4, 5, 5, "INTEL 486SX2"},       {kIntel, 4, 7, 7, "INTEL 486DX2E"},
    {kIntel, 4, 8, 8, "INTEL 486DX4"},       {kIntel, 5, 1, 3, "INTEL Pentium"},
    {kIntel, 5, 4, 4, "INTEL Pentium-MMX"},  {kIntel, 6, 1, 1, "INTEL Pentium-Pro"},
    {kIntel, 6, 3, 3, "INTEL Pentium-II"},   {kIntel, 6, 5, 5, "INTEL Pentium-II"},
    {kIntel, 6, 6, 6, "INTEL Celeron"},      {kIntel, 6, 7, 7, "INTEL Pentium-III"},
    {kIntel, 15, 1, 2, "INTEL Pentium-4"},   {kIntel, 15, -1, -1, "INTEL Pentium-4-G"},
};

#ifdef ULMORA_HAVE_CPUID
// Each feature counts as usable once one of its instructions has run. On x86-64 MMX, SSE and SSE2
// are part of the base architecture, so running them cannot fault; 3DNow! is only run when CPUID
// claims it.
uint32_t TryFeatures(uint32_t supported) {
  uint32_t usable = 0;
  if (supported & kCpuMMX) {
    __asm__ volatile("pxor %%mm0, %%mm0\n\temms" ::: "mm0");
    usable |= kCpuMMX;
  }
  if (supported & kCpuSSE) {
    __asm__ volatile("xorps %%xmm0, %%xmm0" ::: "xmm0");
    usable |= kCpuSSE;
  }
  if (supported & kCpuSSE2) {
    __asm__ volatile("pxor %%xmm0, %%xmm0" ::: "xmm0");
    usable |= kCpuSSE2;
  }
  if (supported & kCpu3DNow) {
    __asm__ volatile("femms");
    usable |= kCpu3DNow;
  }
  return usable;
}
#endif

}  // namespace

const char* CpuModelName(const char* vendor, int family, int model) {
  if (!vendor) return "";
  for (const ModelRow& row : kModels) {
    if (row.family != family || strcmp(row.vendor, vendor) != 0) continue;
    if (row.modelLo < 0 || (model >= row.modelLo && model <= row.modelHi)) return row.name;
  }
  return "";
}

void IdentifyCpu(CpuInfo& info) {
  memset(&info, 0, sizeof info);
#ifdef ULMORA_HAVE_CPUID
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return;
  memcpy(info.vendor + 0, &b, 4);
  memcpy(info.vendor + 4, &d, 4);
  memcpy(info.vendor + 8, &c, 4);
  unsigned maxLeaf = a;
  if (maxLeaf >= 1) {
    __get_cpuid(1, &a, &b, &c, &d);
    info.family = static_cast<int32_t>((a >> 8) & 0xF);
    info.model = static_cast<int32_t>((a >> 4) & 0xF);
    info.stepping = static_cast<int32_t>(a & 0xF);
    if (d & (1u << 23)) info.supported |= kCpuMMX;
    if (d & (1u << 25)) info.supported |= kCpuSSE;
    if (d & (1u << 26)) info.supported |= kCpuSSE2;
  }
  unsigned maxExt = __get_cpuid_max(0x80000000, nullptr);
  if (maxExt >= 0x80000001) {
    __get_cpuid(0x80000001, &a, &b, &c, &d);
    if (d & (1u << 31)) info.supported |= kCpu3DNow;
  }
  const char* name = CpuModelName(info.vendor, info.family, info.model);
  strncpy(info.modelName, name, sizeof info.modelName - 1);
  info.usable = TryFeatures(info.supported);
#endif
}

void LogCpuInfo(const CpuInfo& info) {
  const char* prefix = "Support for ";
  LogPrintf("Vendor Name: %s", info.vendor);
  LogPrintf("CPU Model: %s, Model %d, Stepping %d", info.modelName, info.model, info.stepping);
  LogPrintf("%sMMX: %c", prefix, (info.supported & kCpuMMX) ? 'Y' : 'N');
  LogPrintf("%sSSE: %c", prefix, (info.supported & kCpuSSE) ? 'Y' : 'N');
  LogPrintf("%sSSE2: %c", prefix, (info.supported & kCpuSSE2) ? 'Y' : 'N');
  LogPrintf("%s3DNOW: %c", prefix, (info.supported & kCpu3DNow) ? 'Y' : 'N');
}

void ReportCpu() {
  CpuInfo info;
  IdentifyCpu(info);
  LogCpuInfo(info);
}

}  // namespace ulmora
