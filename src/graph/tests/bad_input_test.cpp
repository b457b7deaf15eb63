// Bad files end with the build's messages and an empty graph object, within bounded time.
#include <gst/gst.h>

#include <chrono>

#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

class BadInputTest : public GraphTest {
 protected:
  // Builds and checks the failure: both attempts, the final report, nothing left behind.
  void ExpectRefused(const std::string& path) {
    CCapGraph g;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(g.BuildFileGraph(path.c_str()), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    // Well under one of the build's state timeouts: a file with nothing to play is known as such fast.
    EXPECT_LT(took, std::chrono::milliseconds(CCapGraph::kStateTimeoutMs * 8 / 10));
    EXPECT_FALSE(g.HasGraph());
    EXPECT_EQ(g.Grabber(), nullptr);
    EXPECT_EQ(g.Pipeline(), nullptr);
    EXPECT_EQ(g.Session().Format().mtConnected.formattype, GUID_NULL);
    EXPECT_EQ(g.RunGraph(), E_UNEXPECTED);
    EXPECT_EQ(g.bAutoRender, 1);  // the second attempt ran
    const std::string text = log.Text();
    if (kDebugBuild) {
      EXPECT_NE(text.find("! 2 step"), std::string::npos);
    }
    EXPECT_NE(text.find("Can't render video file"), std::string::npos);
    EXPECT_EQ(text.find("Previewing Video File"), std::string::npos);
    ASSERT_FALSE(ui.status.empty());
    EXPECT_EQ(ui.status.back(), std::make_pair(1, std::string("Can't render video file")));
    if (kDebugBuild) {
      ASSERT_FALSE(ui.boxes.empty());
      EXPECT_EQ(ui.boxes.back().second, "Error [DEBUG]");
    } else {
      EXPECT_TRUE(ui.boxes.empty());
    }
  }
  size_t Count(const std::string& what) {
    const std::string text = log.Text();
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
};

TEST_F(BadInputTest, MissingFile) {
  ExpectRefused(dir + "/no-such-clip.avi");
  EXPECT_EQ(Count("Can't load the media file\r\n"), 2u);
}

TEST_F(BadInputTest, EmptyFile) {
  WriteFile(dir + "/empty.avi", "");
  ExpectRefused(dir + "/empty.avi");
  EXPECT_EQ(Count("Can't load the media file\r\n"), 2u);
}

TEST_F(BadInputTest, TextFileNamedAvi) {
  WriteFile(dir + "/notes.avi", "These are not the frames you are looking for.\n");
  ExpectRefused(dir + "/notes.avi");
}

TEST_F(BadInputTest, TruncatedAvi) {
  const std::string clip = MakeClip(dir, "full.avi", "-W 64 -H 48 -n 10");
  ASSERT_FALSE(clip.empty());
  const std::string bytes = ReadFile(clip);
  WriteFile(dir + "/cut.avi", bytes.substr(0, 300));  // inside the headers
  ExpectRefused(dir + "/cut.avi");
}

// The demuxer sometimes fails such a file without posting its error; it must not cost a timeout.
TEST_F(BadInputTest, TruncatedLosslessMkvEveryTime) {
  const std::string clip = MakeClip(dir, "full.mkv", "-W 64 -H 48 -n 10 -f mkv-ffv1");
  ASSERT_FALSE(clip.empty());
  WriteFile(dir + "/cut.mkv", ReadFile(clip).substr(0, 300));
  for (int i = 0; i < 4; ++i) ExpectRefused(dir + "/cut.mkv");
}

// The cause reaches whoever reports the failure: a missing decoder is not "no video" nor "corrupt".
TEST_F(BadInputTest, TheCauseOfAFailedBuildIsNamed) {
  const std::string clip = MakeClip(dir, "full.avi", "-W 64 -H 48 -n 4");
  ASSERT_FALSE(clip.empty());
  std::string bytes = ReadFile(clip);
  for (size_t p = bytes.find("YUY2"); p != std::string::npos && p < 4096; p = bytes.find("YUY2", p)) bytes.replace(p, 4, "ZQZQ");
  WriteFile(dir + "/unknown.avi", bytes);
  CCapGraph g;
  EXPECT_LT(g.BuildFileGraph((dir + "/unknown.avi").c_str()), 0);
  EXPECT_EQ(g.FailureCause(), "no decoder for video/x-avi-unknown is installed (a GStreamer plug-in is missing)");
  WriteFile(dir + "/notes.avi", "These are not the frames you are looking for.\n");
  EXPECT_LT(g.BuildFileGraph((dir + "/notes.avi").c_str()), 0);
  EXPECT_EQ(g.FailureCause(), "Could not determine type of stream.");
  EXPECT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  EXPECT_EQ(g.FailureCause(), "");
}

TEST_F(BadInputTest, CorruptAviHeader) {
  const std::string clip = MakeClip(dir, "full.avi", "-W 64 -H 48 -n 10");
  ASSERT_FALSE(clip.empty());
  std::string bytes = ReadFile(clip);
  for (size_t i = 12; i < 400 && i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
  WriteFile(dir + "/corrupt.avi", bytes);
  ExpectRefused(dir + "/corrupt.avi");
}

TEST_F(BadInputTest, AudioOnlyFileHasNoVideoToDeliver) {
  const std::string wav = dir + "/tone.wav";
  GError* err = nullptr;
  EnsureGstInit();
  const std::string desc = "audiotestsrc num-buffers=20 ! wavenc ! filesink location=" + wav;
  GstElement* p = gst_parse_launch(desc.c_str(), &err);
  ASSERT_NE(p, nullptr);
  if (err) g_error_free(err);
  SetGraphState(p, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(p);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND,
                                             static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
  gst_message_unref(m);
  gst_object_unref(bus);
  SetGraphState(p, GST_STATE_NULL);
  gst_object_unref(p);

  ExpectRefused(wav);
  // Both attempts fail in the source-to-grabber negotiation, after trying both subtypes.
  EXPECT_EQ(Count("Can`t connect to media type: MEDIASUBTYPE_YUY2"), 2u);
  EXPECT_EQ(Count("Can`t connect to media type: MEDIASUBTYPE_RGB24"), 2u);
  EXPECT_EQ(Count("Can`t connect to filter pins"), 2u);
  CCapGraph g;
  EXPECT_LT(g.BuildFileGraph(wav.c_str()), 0);
  EXPECT_EQ(g.FailureCause(), "the file has no video stream");
}

TEST_F(BadInputTest, NameOf300CharactersIsRefused) {
  std::string name = dir + "/";
  while (name.size() < 296) name += "x";
  name += ".avi";
  ASSERT_EQ(name.size(), 300u);
  ExpectRefused(name);
  EXPECT_EQ(Count("Can't load the media file\r\n"), 2u);
}

TEST_F(BadInputTest, NameOf259CharactersIsTheLongestAccepted) {
  const std::string clip = MakeClip(dir, "c.avi", "-W 64 -H 48 -n 4");
  ASSERT_FALSE(clip.empty());
  std::string sub = dir + "/";
  while (sub.size() < 200) sub += "d";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  std::string name = sub + "/";
  while (name.size() < 255) name += "f";
  name += ".avi";
  ASSERT_EQ(name.size(), 259u);
  {
    // Missing: refused like any missing file.
    ExpectRefused(name);
  }
  ASSERT_EQ(rename(clip.c_str(), name.c_str()), 0);
  CCapGraph g;
  EXPECT_EQ(g.BuildFileGraph(name.c_str()), S_OK);
  EXPECT_EQ(g.DurationFrames(), 4);
}

}  // namespace
}  // namespace ulmora::test
