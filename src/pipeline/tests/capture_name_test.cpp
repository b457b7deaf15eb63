// Capture-file names: template parsing, expansion, the directory and source name they are built from,
// and frame numbers from real demuxer times.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "pipeline/capture_name.h"
#include "session_fixture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

struct Tok {
  uint32_t kind;
  std::string text;
};

std::vector<Tok> TokensOf(const CSG& sg) {
  std::vector<Tok> out;
  for (int i = 0; i < kNameTokenSlots && sg.Tokens()[i].kind != kTokenEnd; ++i) {
    const NameToken& t = sg.Tokens()[i];
    out.push_back({t.kind, t.text ? std::string(t.text, static_cast<size_t>(t.length)) : std::string()});
  }
  return out;
}

std::string NameFor(CSG& sg, const char* format, double t) {
  sg.SetCapFormat(format);
  sg.BuildCaptureName(t);
  return sg.Stream().pName;
}

class CaptureNameTest : public SessionTest {};

}  // namespace

TEST_F(CaptureNameTest, DefaultTemplateNamesTheSourceAndTheFrame) {
  CSG sg;
  EXPECT_STREQ(sg.CapFormat(), "#cap%n#_%f");
  sg.SetSourceName("USB Video Camera", kSourceDevice);
  sg.ParseNameTemplate();
  auto toks = TokensOf(sg);
  ASSERT_EQ(toks.size(), 3u);
  EXPECT_EQ(toks[0].kind, kTokenText);
  EXPECT_EQ(toks[0].text, "cap");
  EXPECT_EQ(toks[1].kind, kTokenSource);
  EXPECT_EQ(toks[1].text, "USB");
  EXPECT_EQ(toks[2].kind, kTokenFrame);
  EXPECT_STREQ(sg.CapFormat(), "#cap%n#_%f") << "a template with a number is kept as it is";
  sg.BuildCaptureName(1.0);
  EXPECT_STREQ(sg.Stream().pName, "capUSB00030.bmp");
  EXPECT_EQ(std::string(sg.Path()), capDir + "capUSB00030.bmp");
}

TEST_F(CaptureNameTest, SpecialTemplates) {
  CSG sg;
  EXPECT_EQ(NameFor(sg, "%t", 2.5), "0002500.bmp");
  EXPECT_STREQ(sg.CapFormat(), "%t");

  EXPECT_EQ(NameFor(sg, "abc", 0.0), "abc00001.bmp");
  EXPECT_STREQ(sg.CapFormat(), "abc%f") << "the number placeholder is added to the template";
  auto toks = TokensOf(sg);
  ASSERT_EQ(toks.size(), 2u);
  EXPECT_EQ(toks[0].text, "abc");
  EXPECT_EQ(toks[1].kind, kTokenFrame);

  EXPECT_EQ(NameFor(sg, "#a#b%f", 0.0), "a_b00001.bmp");
  toks = TokensOf(sg);
  ASSERT_EQ(toks.size(), 2u);
  EXPECT_EQ(toks[0].text, "a_b") << "the inner '#' is replaced in place";

  EXPECT_EQ(NameFor(sg, "", 0.0), "00001.bmp");
  EXPECT_STREQ(sg.CapFormat(), "");

  // Text after a placeholder letter is dropped up to the next '|' or '%'; a '|' ends a piece.
  EXPECT_EQ(NameFor(sg, "na|me%fxyz#end", 0.0), "na00001.bmp");
  EXPECT_EQ(NameFor(sg, "na|#me%fxyz|#end", 0.0), "name00001end.bmp");
  EXPECT_EQ(NameFor(sg, "%q|#x", 0.0), "x00001.bmp") << "an unknown placeholder adds nothing";
}

TEST_F(CaptureNameTest, TenPlaceholdersFillEightSlotsAndKeepOneForTheNumber) {
  CSG sg;
  sg.SetCapFormat("%d%d%d%d%d%d%d%d%d%d");
  auto toks = TokensOf(sg);
  ASSERT_EQ(toks.size(), 9u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(toks[i].kind, kTokenNone) << i;
  EXPECT_EQ(toks[8].kind, kTokenFrame);
  sg.BuildCaptureName(0.0);
  EXPECT_STREQ(sg.Stream().pName, "00001.bmp");

  sg.SetSourceName("cam", kSourceDevice);
  EXPECT_EQ(NameFor(sg, "%n%n%n%n%n%n%n%n%n%n%n", 0.0), "camcamcamcamcamcamcamcam00001.bmp");
  // Numbers count as the number: a template of only numbers fills every slot.
  sg.SetCapFormat("%f%f%f%f%f%f%f%f%f%f");
  EXPECT_EQ(TokensOf(sg).size(), 9u);
}

TEST_F(CaptureNameTest, ForbiddenCharactersAreReplaced) {
  CSG sg;
  EXPECT_EQ(NameFor(sg, "#x\x01y\"z/w>v<u*t?s&r", 0.0), "x_y_z_w_v_u_t_s_r00001.bmp");
  // A joined piece is checked as well: a '/' must never lead out of the capture directory.
  EXPECT_EQ(NameFor(sg, "#a#/../../etc/x%f", 0.0), "a__.._.._etc_x00001.bmp");
  // Pieces with a separator or an empty placeholder between them stay apart instead of taking the
  // text between them into the name.
  EXPECT_EQ(NameFor(sg, "#a|#b", 0.0), "ab00001.bmp");
  EXPECT_EQ(NameFor(sg, "#a%|#b", 0.0), "ab00001.bmp");
  EXPECT_EQ(NameFor(sg, "#a%x|#b", 0.0), "ab00001.bmp");
  // Bytes of multibyte characters pass unchanged.
  EXPECT_EQ(NameFor(sg, "#\xc3\xa9t\xc3\xa9", 0.0), "\xc3\xa9t\xc3\xa9" "00001.bmp");
}

TEST_F(CaptureNameTest, LongTemplatesAreCutAndKeepRoomForTheNumber) {
  CSG sg;
  std::string big(300, 'a');
  sg.SetCapFormat(big.c_str());
  EXPECT_EQ(strlen(sg.CapFormat()), 259u) << "the template holds 259 characters";
  EXPECT_EQ(std::string(sg.CapFormat()), std::string(259, 'a')) << "no room left to add the placeholder";
  sg.BuildCaptureName(1.0);
  std::string name = sg.Stream().pName;
  int room = 255 - sg.Names().nWorkDirLen;
  EXPECT_EQ(name, std::string(static_cast<size_t>(room - 10), 'a') + "00030.bmp");
  EXPECT_EQ(strlen(sg.Path()), 254u);

  std::string b257(257, 'b');
  sg.SetCapFormat(b257.c_str());
  EXPECT_EQ(std::string(sg.CapFormat()), b257 + "%f") << "shorter than 258: the placeholder is added";
  std::string b258(258, 'b');
  sg.SetCapFormat(b258.c_str());
  EXPECT_EQ(std::string(sg.CapFormat()), b258);

  // The real file system takes the longest name the session builds.
  sg.SetCapFormat(big.c_str());
  sg.BuildCaptureName(0.0);
  FILE* f = fopen(sg.Path(), "wb");
  ASSERT_NE(f, nullptr) << sg.Path();
  fclose(f);
}

TEST_F(CaptureNameTest, DirectoriesUpTo245CharactersAreTaken) {
  CSG sg;
  EXPECT_EQ(sg.SetWorkDir("/data/caps"), 1);
  EXPECT_STREQ(sg.WorkDir(), "/data/caps/");
  EXPECT_EQ(sg.Names().nWorkDirLen, 11);

  // A real directory of 245 characters (the trailing '/' included).
  std::string dir = root;
  while (dir.size() < 244) {
    std::string part(std::min<size_t>(60, 244 - dir.size() - 1), 'd');
    dir += "/" + part;
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
  }
  ASSERT_EQ(dir.size(), 244u);
  std::string withSlash = dir + "/";
  ASSERT_EQ(sg.SetWorkDir(withSlash.c_str()), 1);
  EXPECT_EQ(sg.Names().nWorkDirLen, 245);
  sg.SetSourceName("USB", kSourceDevice);
  EXPECT_STREQ(sg.SourceName(), "") << "no room is left for a source name";
  EXPECT_EQ(NameFor(sg, "#cap%n#_%f", 1.0), "00030.bmp") << "the number and the extension still fit";
  FILE* f = fopen(sg.Path(), "wb");
  ASSERT_NE(f, nullptr) << sg.Path();
  fclose(f);

  std::string d246(246, 'x');
  d246[0] = '/';
  EXPECT_EQ(sg.SetWorkDir(d246.c_str()), 0);
  EXPECT_EQ(std::string(sg.WorkDir()), withSlash) << "a refused directory changes nothing";
  EXPECT_EQ(sg.Names().nWorkDirLen, 245);

  // 245 characters without the separator become 246 with it: still taken, room shrinks to 9.
  std::string d245(245, 'y');
  d245[0] = '/';
  ASSERT_EQ(sg.SetWorkDir(d245.c_str()), 1);
  EXPECT_EQ(sg.Names().nWorkDirLen, 246);
  EXPECT_EQ(NameFor(sg, "#cap%f", 1.0), "00030.bmp");
  EXPECT_EQ(strlen(sg.Path()), 255u);
}

TEST_F(CaptureNameTest, SourceNamesFromDevicesAndFiles) {
  CSG sg;
  sg.SetSourceName("  USB Video Camera", kSourceDevice);
  EXPECT_STREQ(sg.SourceName(), "USB");
  sg.SetSourceName("HD(Pro)", kSourceDevice);
  EXPECT_STREQ(sg.SourceName(), "HD");
  sg.SetSourceName("\xd0\x9a\xd0\xb0\xd0\xbc", kSourceDevice);
  EXPECT_STREQ(sg.SourceName(), "") << "non-ASCII ends a device name at once";
  sg.SetSourceName(nullptr, kSourceDevice);
  EXPECT_STREQ(sg.SourceName(), "");

  sg.SetSourceName("/media/clips/clip 01.avi", kSourceFile);
  EXPECT_STREQ(sg.SourceName(), "clip 01");
  sg.SetSourceName("night.run.mkv", kSourceFile);
  EXPECT_STREQ(sg.SourceName(), "night.run");
  sg.ParseNameTemplate();
  EXPECT_EQ(NameFor(sg, "#cap%n#_%f", 0.0), "capnight.run00001.bmp");
  // A file without a title empties the name and re-parses on its own.
  sg.SetSourceName("/media/clips/.avi", kSourceFile);
  EXPECT_STREQ(sg.SourceName(), "");
  sg.BuildCaptureName(0.0);
  EXPECT_STREQ(sg.Stream().pName, "cap00001.bmp");

  std::string longName(400, 'n');
  sg.SetSourceName(longName.c_str(), kSourceDevice);
  EXPECT_EQ(strlen(sg.SourceName()), static_cast<size_t>(245 - sg.Names().nWorkDirLen));
  sg.ParseNameTemplate();
  sg.BuildCaptureName(0.0);
  EXPECT_LE(strlen(sg.Path()), 255u);
  EXPECT_EQ(std::string(sg.Stream().pName).substr(strlen(sg.Stream().pName) - 9), "00001.bmp");
}

TEST_F(CaptureNameTest, NonsenseTimesNameTheFirstFrame) {
  CSG sg;
  EXPECT_EQ(NameFor(sg, "%f", -3.0), "00001.bmp");
  EXPECT_EQ(NameFor(sg, "%f", std::nan("")), "00001.bmp");
  EXPECT_EQ(NameFor(sg, "%t", -1.0), "0000000.bmp");
  EXPECT_EQ(NameFor(sg, "%t", 4.35), "0004350.bmp") << "4.35 s is 4349.999... ms in a double";
  EXPECT_EQ(NameFor(sg, "%t", 1e300), "4294967295.bmp");
}

// ---- frame numbers ----

namespace {

// Stream times as GStreamer's AVI demuxer computes them: frame n at n x 1e9 x den / num ns, rounded down.
double AviTime(int n, uint64_t num, uint64_t den) {
  uint64_t ns = static_cast<uint64_t>(n) * 1000000000ull * den / num;
  return static_cast<double>(ns) / 1e9;
}

// Buffer times read from a real file through gst-launch; empty when the tools are missing.
std::vector<double> RealStreamTimes(const std::string& dir, const char* rate, const char* mux, const char* demux,
                                    const char* ext, int frames) {
  std::string file = dir + "/clip." + ext;
  std::string make = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(frames) +
                     " ! video/x-raw,format=YUY2,width=64,height=48,framerate=" + rate + " ! " + mux +
                     " ! filesink location=" + file + " >/dev/null 2>&1";
  if (system(make.c_str()) != 0) return {};
  std::string read = "gst-launch-1.0 -v filesrc location=" + file + " ! " + demux + " ! fakesink silent=false 2>&1";
  std::vector<double> times;
  FILE* p = popen(read.c_str(), "r");
  if (!p) return {};
  char line[1024];
  while (fgets(line, sizeof line, p)) {
    const char* pts = strstr(line, "pts: ");
    unsigned h = 0, m = 0, s = 0, ns = 0;
    if (pts && sscanf(pts, "pts: %u:%u:%u.%u", &h, &m, &s, &ns) == 4)
      times.push_back(static_cast<double>((h * 3600ull + m * 60ull + s) * 1000000000ull + ns) / 1e9);
  }
  pclose(p);
  return times;
}

void ExpectConsecutive(const std::vector<double>& times, double fps, const char* what) {
  for (size_t i = 0; i < times.size(); ++i)
    EXPECT_EQ(CaptureFrameNumber(times[i], fps), i + 1) << what << " frame " << i << " at " << times[i];
}

}  // namespace

TEST(CaptureFrameNumber, TheSpecExamplesHold) {
  EXPECT_EQ(CaptureFrameNumber(1.0, 29.97), 30u);
  EXPECT_EQ(CaptureFrameNumber(0.0, 29.97), 1u);
  EXPECT_EQ(CaptureFrameNumber(0.5, 30.0), 16u);
  EXPECT_EQ(CaptureFrameNumber(0.0326, 30.0), 1u) << "well before frame 1's instant is still frame 0";
  EXPECT_EQ(CaptureFrameNumber(0.0330, 30.0), 2u) << "a millisecond-rounded frame 1";
  EXPECT_EQ(CaptureTimeMs(2.5), 2500u);
}

TEST(CaptureFrameNumber, RoundedDownDemuxerTimesNeverShareANumber) {
  std::vector<double> t30, t2997;
  for (int n = 0; n < 20000; ++n) {
    t30.push_back(AviTime(n, 30, 1));
    t2997.push_back(AviTime(n, 30000, 1001));
  }
  // What the plain truncation does: frame 1 at 0.033333333 s gets 0.99999999 and the number of frame 0.
  EXPECT_EQ(static_cast<unsigned>(t30[1] * 30.0) + 1, 1u);
  ExpectConsecutive(t30, 30.0, "30 fps");
  ExpectConsecutive(t2997, 30000.0 / 1001.0, "29.97 fps");
  // A rate taken from a frame duration in 100-ns units drifts a little from the stream; the first
  // minutes still number every frame.
  t2997.resize(3000);
  ExpectConsecutive(t2997, 1e7 / 333667.0, "29.97 fps from a 100-ns duration");
  // Millisecond times, as Matroska stores them.
  std::vector<double> ms30, ms2997;
  for (int n = 0; n < 20000; ++n) {
    ms30.push_back(std::nearbyint(n * 1000.0 / 30.0) / 1000.0);
    ms2997.push_back(std::nearbyint(n * 1001000.0 / 30000.0) / 1000.0);
    // and the half-millisecond cases rounded down
    if (std::fmod(n * 1001000.0, 30000.0) == 15000.0) ms2997.back() = std::floor(n * 1001000.0 / 30000.0) / 1000.0;
  }
  ExpectConsecutive(ms30, 30.0, "30 fps in ms");
  ExpectConsecutive(ms2997, 30000.0 / 1001.0, "29.97 fps in ms");
}

TEST(CaptureFrameNumber, RealFilesAt30And2997FramesPerSecond) {
  std::string dir = MakeTempDir("clip");
  ASSERT_FALSE(dir.empty());
  struct Case {
    const char *rate, *mux, *demux, *ext;
    double fps;
  } cases[] = {
      {"30/1", "avimux", "avidemux", "avi", 30.0},
      {"30000/1001", "avimux", "avidemux", "avi", 29.97},
      {"30/1", "matroskamux", "matroskademux", "mkv", 30.0},
      {"30000/1001", "matroskamux", "matroskademux", "mkv", 29.97},
  };
  for (const Case& c : cases) {
    std::vector<double> times = RealStreamTimes(dir, c.rate, c.mux, c.demux, c.ext, 120);
    if (times.empty()) {
      RemoveTree(dir);
      GTEST_SKIP() << "gst-launch-1.0 is not available";
    }
    ASSERT_EQ(times.size(), 120u) << c.ext << " " << c.rate;
    ExpectConsecutive(times, c.fps, (std::string(c.ext) + " " + c.rate).c_str());
  }
  RemoveTree(dir);
}

TEST_F(CaptureNameTest, AnyTemplateGivesABoundedNameInsideTheDirectory) {
  CSG sg;
  sg.SetSourceName("USB", kSourceDevice);
  for (const char* t : {"|", "|||", "|a", "%", "#", "##", "%%%%", "#|#|", "%|%|", "a|", "|#x"}) {
    sg.SetCapFormat(t);
    sg.BuildCaptureName(0.0);
    EXPECT_NE(strstr(sg.Stream().pName, "00001.bmp"), nullptr) << "'" << t << "' gives " << sg.Stream().pName;
  }
  std::mt19937 rng(17);
  const char alphabet[] = "#%|dfnt_a/\\\"<>*?&.\x01";
  for (int n = 0; n < 20000; ++n) {
    std::string t(rng() % 40, ' ');
    for (char& c : t) c = alphabet[rng() % (sizeof alphabet - 1)];
    sg.SetCapFormat(t.c_str());
    int count = 0, numbers = 0;
    for (; count < kNameTokenSlots && sg.Tokens()[count].kind != kTokenEnd; ++count)
      numbers += sg.Tokens()[count].kind == kTokenTime || sg.Tokens()[count].kind == kTokenFrame;
    ASSERT_GE(numbers, 1) << t;
    sg.BuildCaptureName(n / 29.97);
    const std::string name = sg.Stream().pName;
    ASSERT_LE(strlen(sg.Path()), 255u) << t;
    ASSERT_GE(name.size(), 5u) << t;
    ASSERT_EQ(name.substr(name.size() - 4), ".bmp") << t;
    for (unsigned char c : name) ASSERT_TRUE(c >= 32 && !strchr("\"/><*?|%#&", c)) << t << " -> " << name;
  }
}
