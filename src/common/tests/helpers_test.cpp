#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>

#include "common/aligned_alloc.h"
#include "common/cpu_report.h"
#include "common/paths.h"
#include "common/run_log.h"
#include "common/safe_snprintf.h"
#include "common/time_text.h"
#include "log_capture.h"

using namespace ulmora;
using namespace ulmora::test;

class Formatter : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordedBoxes().clear();
    ReportReset();
    SetAssertBoxEntry(RecordBox);
  }
  void TearDown() override { SetAssertBoxEntry(nullptr); }
};

TEST_F(Formatter, CutsAtSizeMinusOneAndAlwaysTerminates) {
  char buf[16];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(__SafeSnprintf(buf, 4, "%s", "12345"), 3);
  EXPECT_STREQ(buf, "123");
  EXPECT_EQ(buf[4], '#') << "wrote past the size it was given";
  EXPECT_EQ(__SafeSnprintf(buf, 6, "%s", "12345"), 5);
  EXPECT_STREQ(buf, "12345");
  EXPECT_EQ(__SafeSnprintf(buf, 5, "%d", 12345), 4);
  EXPECT_STREQ(buf, "1234");
  EXPECT_EQ(__SafeSnprintf(buf, 1, "%s", "x"), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(Formatter, ACutOrAZeroSizeIsAnAssertionInTheDebugBuildOnly) {
  char buf[8] = "keep";
  EXPECT_EQ(__SafeSnprintf(buf, 0, "%s", "x"), 0);
  EXPECT_STREQ(buf, "keep") << "size 0 must not write";
  __SafeSnprintf(buf, 5, "%s", "12345");
  __SafeSnprintf(buf, 4, "%s", "12345");
  if (kDebugBuild) {
    ASSERT_EQ(RecordedBoxes().size(), 3u);
    EXPECT_NE(RecordedBoxes()[0].text.find("__SafeSnprintf: bad size..."), std::string::npos);
    EXPECT_NE(RecordedBoxes()[1].text.find("__SafeSnprintf: n == size"), std::string::npos);
    EXPECT_NE(RecordedBoxes()[2].text.find("__SafeSnprintf: n < 0"), std::string::npos);
  } else {
    EXPECT_TRUE(RecordedBoxes().empty());
  }
}

TEST(AlignedBlocks, AddressesAreAlignedAndTheWholeStartPointerIsKept) {
  std::vector<void*> blocks;
  for (size_t alignment : {1u, 2u, 4u, 8u, 16u, 64u, 4096u}) {
    for (size_t size : {0u, 1u, 100u, 1u << 20, 3u << 20}) {
      void* p = __AlignedMalloc(size, alignment, __FILE__, __LINE__);
      ASSERT_NE(p, nullptr);
      size_t effective = alignment < sizeof(void*) ? sizeof(void*) : alignment;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % effective, 0u) << alignment;
      memset(p, 0xA5, size);  // the sanitizer build catches a block too small for the stored start
      blocks.push_back(p);
    }
  }
  // Large blocks come from mmap, far above 4 GiB: a start cut to 32 bits would free a wild pointer.
  void* big = __AlignedMalloc(64u << 20, 64, __FILE__, __LINE__);
  ASSERT_NE(big, nullptr);
  EXPECT_GT(reinterpret_cast<uintptr_t>(big), uintptr_t(0xFFFFFFFF));
  __AlignedFree(big);
  for (void* p : blocks) __AlignedFree(p);
  __AlignedFree(nullptr);
}

TEST(AlignedBlocks, AlignmentThatIsNotAPowerOfTwoIsRefused) {
  EXPECT_EQ(__AlignedMalloc(100, 48, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(__AlignedMalloc(100, 0, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(__AlignedMalloc(SIZE_MAX - 8, 64, __FILE__, __LINE__), nullptr);
}

TEST(Paths, ProgramDirectoryEndsInASlashAndHoldsThisProgram) {
  char dir[kMaxPath];
  ASSERT_NE(GetProgramDirectory(dir, sizeof dir), nullptr);
  std::string d = dir;
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), '/');
  struct stat st {};
  EXPECT_EQ(stat((d + "ulmora-common-tests").c_str(), &st), 0);
  char tiny[4];
  EXPECT_EQ(GetProgramDirectory(tiny, sizeof tiny), nullptr);
}

TEST(Paths, DirectoryTestResolvesTheFullPathAndEmptiesOutputOnFailure) {
  char out[kMaxPath] = "stale";
  EXPECT_TRUE(IsDirectory(out, "/tmp/../tmp", sizeof out));
  EXPECT_STREQ(out, "/tmp");
  EXPECT_FALSE(IsDirectory(out, "/tmp/ulmora-no-such-dir", sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(IsDirectory(nullptr, "/etc/passwd", 0));
  EXPECT_FALSE(IsDirectory(nullptr, "", 0));
  EXPECT_TRUE(IsDirectory(nullptr, "/", 0));
}

TEST(Paths, FileTitleSkipsDirectoryAndExtension) {
  const char* path = "/clips/clip 01.avi";
  EXPECT_EQ(FileTitleOffset(path), 7u);
  EXPECT_EQ(FileTitleLength(path), 7u);
  EXPECT_EQ(FileTitleLength("/a.b/noext"), 5u);
  EXPECT_EQ(FileTitleOffset("plain.tar.gz"), 0u);
  EXPECT_EQ(FileTitleLength("plain.tar.gz"), 9u);
  EXPECT_EQ(FileTitleLength("/dir/"), 0u);
  EXPECT_EQ(FileTitleLength(".hidden"), 0u);
}

TEST(Paths, TempDirectoryEndsInASlash) {
  char buf[kMaxPath];
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(GetTempDirectory(buf, sizeof buf), 9u);
  EXPECT_STREQ(buf, "/var/tmp/");
  unsetenv("TMPDIR");
  GetTempDirectory(buf, sizeof buf);
  EXPECT_STREQ(buf, "/tmp/");
}

TEST(TimeText, EachRangeHasItsFormatAndADayIsTheCap) {
  char buf[32];
  struct Case {
    uint32_t ms;
    const char* text;
  } cases[] = {
      {0, "00:000"},          {5, "00:005"},           {1500, "01:500"},           {6000, "06:000"},
      {59999, "59:999"},      {60000, "01:00:000"},    {3599999, "59:59:999"},     {3600000, "01:00:00:000"},
      {86400000, "24:00:00:000"}, {86400001, "> 24:00:00:000"}, {UINT32_MAX, "> 24:00:00:000"},
  };
  for (const Case& c : cases) {
    FormatTimeMs(buf, sizeof buf, c.ms);
    EXPECT_STREQ(buf, c.text) << c.ms;
  }
  EXPECT_EQ(FormatTimeMs(buf, 4, 1500), 3);
  EXPECT_STREQ(buf, "01:");
}

TEST(TimeText, ParserFieldsAreRightAlignedAndClamped) {
  struct Case {
    const char* text;
    uint32_t ms;
  } cases[] = {
      {"1:500", 1500},      {"1500", 999},          {"6:0", 6000},        {"2:5", 2005},
      {"5", 5},             {"9:0", 9000},          {" 1 : 2 ", 1002},    {"-3", 3},
      {"+1:+2", 1002},      {":5", 5},              {"1::", 1000},       {"1:2:3:4", 3723004},
      {"99:99:99:9999", 59 * 3600000u + 59 * 60000u + 59 * 1000u + 999}, {"1:2:3:4:5", 3723004},
      {"7abc", 7},          {"99999999999999999999", 999},
  };
  for (const Case& c : cases) {
    uint32_t v = 0;
    EXPECT_TRUE(ParseTimeText(c.text, v)) << c.text;
    EXPECT_EQ(v, c.ms) << c.text;
  }
  for (const char* bad : {"", "   ", "abc", "x:1", "-"}) {
    uint32_t v = 1234;
    EXPECT_FALSE(ParseTimeText(bad, v)) << bad;
    EXPECT_EQ(v, 1234u) << "a failed parse must leave the value";
  }
  uint32_t v = 1500;
  bool changed = true;
  EXPECT_TRUE(ParseTimeText("01:500", v, &changed));
  EXPECT_FALSE(changed);
  EXPECT_TRUE(ParseTimeText("01:501", v, &changed));
  EXPECT_TRUE(changed);
}

TEST(Cpu, ModelNamesFollowTheTable) {
  EXPECT_STREQ(CpuModelName("GenuineIntel", 6, 8), "");
  EXPECT_STREQ(CpuModelName("GenuineIntel", 6, 5), "INTEL Pentium-II");
  EXPECT_STREQ(CpuModelName("GenuineIntel", 15, 2), "INTEL Pentium-4");
  EXPECT_STREQ(CpuModelName("GenuineIntel", 15, 3), "INTEL Pentium-4-G");
  EXPECT_STREQ(CpuModelName("GenuineIntel", 4, 6), "");
  EXPECT_STREQ(CpuModelName("AuthenticAMD", 5, 4), "");
  EXPECT_STREQ(CpuModelName("AuthenticAMD", 5, 15), "AMD K6-3");
  EXPECT_STREQ(CpuModelName("AuthenticAMD", 6, 99), "AMD ATHLON");
  EXPECT_STREQ(CpuModelName("CyrixInstead", 4, 0), "");
}

TEST(Cpu, ReportLinesShowAnUnlistedModelAsAnEmptyName) {
  LogCapture log;
  CpuInfo info{};
  strcpy(info.vendor, "GenuineIntel");
  info.family = 6;
  info.model = 8;
  info.stepping = 3;
  info.supported = kCpuMMX | kCpuSSE2;
  LogCpuInfo(info);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Vendor Name: GenuineIntel", "CPU Model: , Model 8, Stepping 3",
                                                   "Support for MMX: Y", "Support for SSE: N", "Support for SSE2: Y",
                                                   "Support for 3DNOW: N"}));
}

TEST(Cpu, ThisMachineIdentifiesItself) {
  CpuInfo info;
  IdentifyCpu(info);
#if defined(__x86_64__)
  EXPECT_EQ(strlen(info.vendor), 12u);
  // x86-64 always has these, and they run.
  EXPECT_EQ(info.supported & (kCpuMMX | kCpuSSE | kCpuSSE2), unsigned(kCpuMMX | kCpuSSE | kCpuSSE2));
  EXPECT_EQ(info.usable & info.supported, info.supported);
#else
  EXPECT_STREQ(info.vendor, "");
#endif
}

TEST(RunLog, OpensBesideTheProgramAndReplacesThePreviousRun) {
  char dir[kMaxPath];
  ASSERT_NE(GetProgramDirectory(dir, sizeof dir), nullptr);
  std::string path = std::string(dir) + "nocta.log";
  { FILE* old = fopen(path.c_str(), "w"); fputs("previous run\n", old); fclose(old); }
  FILE* f = OpenLogFile();
  ASSERT_NE(f, nullptr);
  fputs("new\n", f);
  fclose(f);
  FILE* in = fopen(path.c_str(), "r");
  char line[64] = {};
  ASSERT_NE(fgets(line, sizeof line, in), nullptr);
  fclose(in);
  EXPECT_STREQ(line, "new\n");
  unlink(path.c_str());
}

// Beside the program when it can write there, else the state directory (made on the way); never the
// current directory, whatever happens.
TEST(RunLog, FallsBackToTheStateDirectoryNeverTheCurrentOne) {
  char base[] = "/tmp/ulmora-runlog-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  const std::string b = base;
  const std::string program = b + "/bin/";
  ASSERT_EQ(mkdir(program.c_str(), 0700), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(base), 0);
  const auto opens = [](const std::string& dir, const char* state, const char* home) {
    std::string path;
    FILE* f = OpenLogFileIn(dir.c_str(), state, home, &path);
    if (f) fclose(f);
    return f ? path : std::string("(none)");
  };
  const std::string state = b + "/state/deeper";
  EXPECT_EQ(opens(program, state.c_str(), base), program + "nocta.log");
  // A folder the program cannot write into (here one that is not there at all: root writes anywhere).
  const std::string gone = b + "/gone/";
  EXPECT_EQ(opens(gone, state.c_str(), base), state + "/ulmora/nocta.log");
  struct stat st {};
  ASSERT_EQ(stat((state + "/ulmora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Unset or relative: the default under the home directory.
  EXPECT_EQ(opens(gone, nullptr, base), b + "/.local/state/ulmora/nocta.log");
  EXPECT_EQ(opens(gone, "relative", base), b + "/.local/state/ulmora/nocta.log");
  EXPECT_EQ(opens(gone, nullptr, nullptr), "(none)");
  EXPECT_EQ(opens(std::string(), "", "relative"), "(none)");
  EXPECT_NE(access((b + "/nocta.log").c_str(), F_OK), 0) << "a log landed in the current directory";
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(system(("rm -rf '" + b + "'").c_str()), 0);
}
