// Name tables, caps read into the connected-type record, the media type dump and the file-rate rule.
#include <gst/gst.h>

#include "graph/graph_dump.h"
#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

GstCaps* Caps(const char* text) {
  EnsureGstInit();
  return gst_caps_from_string(text);
}

TEST(GuidNames, TableStartsInDeclarationOrderAndFirstEntryWins) {
  size_t n = 0;
  const GuidNameEntry* t = GuidNameTable(n);
  ASSERT_GE(n, 7u);
  const char* first[] = {"MEDIASUBTYPE_None", "MEDIATYPE_Video",  "MEDIATYPE_Audio",      "MEDIATYPE_Text",
                         "MEDIATYPE_Midi",    "MEDIATYPE_Stream", "MEDIATYPE_Interleaved"};
  for (size_t i = 0; i < 7; ++i) EXPECT_STREQ(t[i].name, first[i]);
  // Every name the lookup returns is the first entry with that GUID.
  for (size_t i = 0; i < n; ++i) {
    size_t j = 0;
    while (!(t[j].guid == t[i].guid)) ++j;
    EXPECT_STREQ(GetGuidName(t[i].guid), t[j].name);
  }
  EXPECT_STREQ(GetGuidName(GUID_NULL), "TIME_FORMAT_NONE");
  EXPECT_STREQ(GetGuidName(MEDIASUBTYPE_YUY2), "MEDIASUBTYPE_YUY2");
  EXPECT_STREQ(GetGuidName(MEDIASUBTYPE_RGB24), "MEDIASUBTYPE_RGB24");
  EXPECT_STREQ(GetGuidName(FORMAT_VideoInfo), "FORMAT_VideoInfo");
  EXPECT_STREQ(GetGuidName(MakeGuid(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)), "Unknown GUID Name");
}

TEST(GuidNames, SubtypeDescriptions) {
  EXPECT_STREQ(GetSubtypeDescription(MEDIASUBTYPE_RGB24), "RGB 24");
  EXPECT_STREQ(GetSubtypeDescription(MEDIASUBTYPE_RGB32), "RGB 32");
  EXPECT_STREQ(GetSubtypeDescription(MEDIASUBTYPE_YUY2), "UNKNOWN");
  EXPECT_STREQ(GetSubtypeDescription(GUID_NULL), "UNKNOWN");
}

TEST(CapsToMediaType, FixedYuy2) {
  GstRef<GstCaps> c = Adopt(Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"));
  CapsMediaType m;
  ASSERT_TRUE(CapsToMediaType(c.get(), m));
  EXPECT_EQ(m.mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(m.mt.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(m.mt.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(m.mt.bFixedSizeSamples, 1);
  EXPECT_EQ(m.mt.lSampleSize, 640u * 480u * 2u);
  EXPECT_EQ(m.mt.vih.AvgTimePerFrame, 333333);
  EXPECT_EQ(m.mt.vih.bmiHeader.biCompression, kFourccYUY2);
  EXPECT_EQ(m.mt.vih.bmiHeader.biBitCount, 16);
  EXPECT_EQ(m.mt.vih.bmiHeader.biHeight, 480);
}

TEST(CapsToMediaType, BgrRowsArePaddedLikeABitmapAndUnknownRateIsZero) {
  GstRef<GstCaps> c = Adopt(Caps("video/x-raw,format=BGR,width=321,height=5,framerate=0/1"));
  CapsMediaType m;
  ASSERT_TRUE(CapsToMediaType(c.get(), m));
  EXPECT_EQ(m.mt.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(m.mt.vih.bmiHeader.biCompression, 0u);
  EXPECT_EQ(m.mt.vih.bmiHeader.biBitCount, 24);
  EXPECT_EQ(m.mt.vih.bmiHeader.biSizeImage, 964u * 5u);
  EXPECT_EQ(m.mt.vih.AvgTimePerFrame, 0);
}

TEST(CapsToMediaType, StepTypeHasNoFormatAndAudioGetsItsBlock) {
  GstRef<GstCaps> step = Adopt(NewStepCaps(1));
  CapsMediaType m;
  ASSERT_TRUE(CapsToMediaType(step.get(), m));
  EXPECT_EQ(m.mt.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(m.mt.formattype, GUID_NULL);
  EXPECT_EQ(m.mt.lSampleSize, 0u);
  GstRef<GstCaps> a = Adopt(Caps("audio/x-raw,format=S16LE,rate=44100,channels=2,layout=interleaved"));
  ASSERT_TRUE(CapsToMediaType(a.get(), m));
  EXPECT_EQ(m.mt.majortype, MEDIATYPE_Audio);
  EXPECT_EQ(m.cbWave, kWaveFormatExSize);
  EXPECT_EQ(m.wfx.nBlockAlign, 4);
  EXPECT_EQ(m.wfx.nAvgBytesPerSec, 176400u);
  GstRef<GstCaps> odd = Adopt(Caps("application/x-something"));
  ASSERT_TRUE(CapsToMediaType(odd.get(), m));
  EXPECT_STREQ(GetGuidName(m.mt.subtype), "Unknown GUID Name");
  EXPECT_FALSE(CapsToMediaType(nullptr, m));
}

class DumpTest : public ::testing::Test {
 protected:
  LogCapture log;
};

TEST_F(DumpTest, Yuy2AndRgbDumps) {
  GstRef<GstCaps> y = Adopt(Caps("video/x-raw,format=YUY2,width=8,height=2,framerate=25/1"));
  CapsMediaType m;
  ASSERT_TRUE(CapsToMediaType(y.get(), m));
  DumpMediaType("Out Video Format", m);
  GstRef<GstCaps> r = Adopt(Caps("video/x-raw,format=BGR,width=4,height=2,framerate=25/1"));
  ASSERT_TRUE(CapsToMediaType(r.get(), m));
  DumpMediaType("L2", m);
  const auto lines = log.Lines();
  const std::vector<std::string> want = {"",
                                         "-----------------------",
                                         "Out Video Format  M type MEDIATYPE_Video  S type MEDIASUBTYPE_YUY2",
                                         "Subtype description UNKNOWN",
                                         "Not temporally compressed",
                                         "Sample size 32",
                                         "Source rectangle (Left 0 Top 0 Right 8 Bottom 2)",
                                         "Target rectangle (Left 0 Top 0 Right 8 Bottom 2)",
                                         "Size of BITMAPINFO structure 40",
                                         "8x2x16 bit 'YUY2'",
                                         "Image size 32",
                                         "Planes 1",
                                         "X Pels per metre 0",
                                         "Y Pels per metre 0",
                                         "Colours used 0"};
  ASSERT_GE(lines.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(lines[i], want[i]);
  const std::string text = log.Text();
  EXPECT_NE(text.find("Subtype description RGB 24"), std::string::npos);
  EXPECT_NE(text.find("4x2x24 bit  (0)"), std::string::npos);
}

TEST_F(DumpTest, OtherFormatTypesPrintOnlyTheirName) {
  MediaType mt;
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_YUY2;
  mt.formattype = FORMAT_VideoInfo2;
  DumpMediaType("x", mt);
  mt.formattype = GUID_NULL;
  DumpMediaType("y", mt);
  const std::string text = log.Text();
  EXPECT_NE(text.find("Variable size samples\nFormat type FORMAT_VideoInfo2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Format type TIME_FORMAT_NONE"), std::string::npos);
  EXPECT_EQ(text.find("Source rectangle"), std::string::npos);
  LogMediaTypeLine(nullptr, mt);
  EXPECT_NE(log.Text().find("Trying media type : major type:  MEDIATYPE_Video,    sub type  :  MEDIASUBTYPE_YUY2"),
            std::string::npos);
  DumpGraph(nullptr);  // nothing
}

TEST(FileRate, RoundedDurationKeepsTheExactRate) {
  // An 8-frame AVI at 30/1: the duration is 266666666 ns, frames / seconds = 30.000000075.
  EXPECT_EQ(RefineFileRate(30.0, 30, 1, 0.266666666, 8), 30.0);
  // Matroska keeps milliseconds.
  EXPECT_EQ(RefineFileRate(25.0, 25, 1, 0.520, 13), 25.0);
  EXPECT_EQ(RefineFileRate(29.97, 30000, 1001, 10.010, 300), 30000.0 / 1001.0);
  // A length that disagrees with the caps by a frame or more is believed.
  EXPECT_DOUBLE_EQ(RefineFileRate(30.0, 30, 1, 2.0, 50), 25.0);
  // Without caps rate: frames / seconds; without a length: unchanged.
  EXPECT_DOUBLE_EQ(RefineFileRate(23.976, 0, 1, 2.0, 40), 20.0);
  EXPECT_EQ(RefineFileRate(23.976, 0, 1, 0.0, 40), 23.976);
  EXPECT_EQ(RefineFileRate(23.976, 25, 1, 1.0, 0), 23.976);
  // The 100-ns period of 30/1 is 333333: the rate read back is 30 itself, not 30.00003.
  EXPECT_EQ(ExactFormatRate(30, 1, 333333), 30.0);
  EXPECT_DOUBLE_EQ(ExactFormatRate(0, 1, 400000), 25.0);
  EXPECT_DOUBLE_EQ(ExactFormatRate(30, 1, 400000), 25.0);
  EXPECT_EQ(ExactFormatRate(30, 1, 0), 0.0);
}

}  // namespace
}  // namespace ulmora::test
