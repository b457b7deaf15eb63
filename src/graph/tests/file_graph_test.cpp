// The file graph on generated clips: build, format read-back, lengths, frames reaching the session.
#include <algorithm>
#include <cmath>

#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

class FileGraphTest : public GraphTest {};

TEST_F(FileGraphTest, AviBuildsManuallyReadsFormatAndLogsTheBuild) {
  const std::string clip = MakeClip(dir, "clip.avi", "-W 320 -H 240 -n 8 -r 30");
  ASSERT_FALSE(clip.empty());
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  EXPECT_TRUE(g.HasGraph());
  EXPECT_EQ(g.bAutoRender, 0);  // the first (manual) attempt was enough
  EXPECT_EQ(g.RunState(), kRunStopped);
  EXPECT_EQ(g.DurationFrames(), 8);
  EXPECT_NEAR(g.DurationSeconds(), 8.0 / 30.0, 1e-6);
  EXPECT_EQ(g.Session().GetFrameRate(), 30.0);  // exact, not 30.000000075
  EXPECT_EQ(g.Session().Format().fccSubtype, kFourccYUY2);
  EXPECT_EQ(g.Session().Format().nVideoWidth, 320);
  EXPECT_EQ(g.Session().Format().nVideoHeight, 240);
  const MediaType& mt = g.Session().Format().mtConnected;
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(mt.vih.AvgTimePerFrame, 333333);
  EXPECT_EQ(mt.vih.bmiHeader.biBitCount, 16);
  EXPECT_EQ(mt.vih.bmiHeader.biSizeImage, 320u * 240u * 2u);
  EXPECT_EQ(mt.bFixedSizeSamples, 1);

  const std::string text = log.Text();
  for (const char* line :
       {"/////////////////////////////////////\n\tBuild filter graph", "find Media Type step 1",
        "Trying media type : major type:  MEDIATYPE_Video,    sub type  :  MEDIASUBTYPE_YUY2",
        "Trying media type Render :: major type:  MEDIATYPE_Video,    sub type  :  MEDIASUBTYPE_YUY2",
        "Out Video Format  M type MEDIATYPE_Video  S type MEDIASUBTYPE_YUY2", "Subtype description UNKNOWN",
        "320x240x16 bit 'YUY2'", "Image size 153600", "\nFound Input Compression :  FOURCC_YUY2\n", "\nDumpGraph [0x",
        "'File Reader'", "'Grabber'", "'NULL Render'", "Trying media type Connection type", "FPS=30.00"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(text.find("! 2 step"), std::string::npos);
  // The status bar shows the file and the state.
  ASSERT_GE(ui.status.size(), 2u);
  EXPECT_EQ(ui.status[ui.status.size() - 2], std::make_pair(0, clip));
  EXPECT_EQ(ui.status.back(), std::make_pair(1, std::string("Previewing Video File")));
}

TEST_F(FileGraphTest, GraphDumpPinIdentitiesMatchTheirPeers) {
  const std::string clip = MakeClip(dir, "clip.avi", "-W 64 -H 48 -n 3");
  ASSERT_FALSE(clip.empty());
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  // Every "Connected to pin [x]" names a pin that has its own line.
  const auto lines = log.Lines();
  std::vector<std::string> own, peers;
  for (const auto& l : lines) {
    if (l.rfind("Pin [", 0) != 0) continue;
    own.push_back(l.substr(5, l.find(']') - 5));
    const size_t c = l.find("Connected to pin [");
    if (c != std::string::npos) peers.push_back(l.substr(c + 18, l.find(']', c) - c - 18));
  }
  ASSERT_FALSE(peers.empty());
  for (const auto& p : peers) EXPECT_NE(std::find(own.begin(), own.end(), p), own.end()) << p;
}

TEST_F(FileGraphTest, EveryFrameReachesTheSessionInOrder) {
  const std::string clip = MakeClip(dir, "clip.avi", "-W 160 -H 120 -n 12 -r 25");
  ASSERT_FALSE(clip.empty());
  SampleRecorder rec;  // outlives the graph, which still calls it while it stops
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  g.Session().SetPacing(false);
  rec.Attach(g);
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  const auto times = rec.Times();
  ASSERT_EQ(times.size(), 12u);
  for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], i / 25.0, 1e-6) << i;
}

TEST_F(FileGraphTest, MkvRawAndFfv1ReportLengthAndPlayEveryFrame) {
  for (const char* fmt : {"mkv", "mkv-ffv1"}) {
    SCOPED_TRACE(fmt);
    const std::string clip =
        MakeClip(dir, std::string("clip-") + fmt + ".mkv", std::string("-f ") + fmt + " -W 96 -H 64 -n 10 -r 20");
    ASSERT_FALSE(clip.empty());
    SampleRecorder rec;
    CCapGraph g;
    ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
    EXPECT_EQ(g.DurationFrames(), 10);
    EXPECT_NEAR(g.DurationSeconds(), 0.5, 0.002);
    EXPECT_EQ(g.Session().GetFrameRate(), 20.0);
    g.Session().SetPacing(false);
    rec.Attach(g);
    ASSERT_EQ(g.RunGraph(), S_OK);
    ASSERT_TRUE(PlayToEnd(g));
    EXPECT_EQ(rec.calls.load(), 10);
  }
}

}  // namespace
}  // namespace ulmora::test

namespace ulmora::test {
namespace {

TEST_F(FileGraphTest, BgrClipConnectsAtTheSecondStep) {
  const std::string clip = MakeClip(dir, "bgr.avi", "-p bgr -W 81 -H 20 -n 5");
  ASSERT_FALSE(clip.empty());
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  EXPECT_EQ(g.bAutoRender, 0);
  EXPECT_EQ(g.Session().Format().mtConnected.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(g.Session().Format().fccSubtype, 0u);
  EXPECT_EQ(g.Session().Format().mtConnected.vih.bmiHeader.biSizeImage, 244u * 20u);
  const std::string text = log.Text();
  EXPECT_NE(text.find("Can`t connect to media type: MEDIASUBTYPE_YUY2"), std::string::npos);
  EXPECT_NE(text.find("Subtype description RGB 24"), std::string::npos);
  EXPECT_NE(text.find("81x20x24 bit  (0)"), std::string::npos);
}

TEST_F(FileGraphTest, I420ClipNeedsTheAutomaticAttemptWithAConverter) {
  const std::string clip = MakeClip(dir, "i420.avi", "-p i420 -W 64 -H 48 -n 6 -r 10");
  ASSERT_FALSE(clip.empty());
  SampleRecorder rec;
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(clip.c_str()), S_OK);
  EXPECT_EQ(g.bAutoRender, 1);
  EXPECT_EQ(g.bTouchGraph, 1);
  EXPECT_EQ(g.Session().Format().mtConnected.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(g.Session().GetFrameRate(), 10.0);
  if (kDebugBuild) {
    EXPECT_NE(log.Text().find("! 2 step"), std::string::npos);
  }
  g.Session().SetPacing(false);
  rec.Attach(g);
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  EXPECT_EQ(rec.calls.load(), 6);
  // The converter delivered what was agreed.
  GstRef<GstPad> in = InputPin(g.Grabber()->Element());
  GstRef<GstCaps> caps = Adopt(gst_pad_get_current_caps(in.get()));
  ASSERT_TRUE(caps);
  EXPECT_TRUE(gst_caps_is_equal(caps.get(), g.Grabber()->ConnectedCaps()));
}

}  // namespace
}  // namespace ulmora::test

namespace ulmora::test {
namespace {

// Runs a gst-launch description that writes a file, bounded in time.
bool WriteWithPipeline(const std::string& desc) {
  EnsureGstInit();
  GError* err = nullptr;
  GstRef<GstElement> p = Adopt(gst_parse_launch(desc.c_str(), &err));
  if (err) g_error_free(err);
  if (!p) return false;
  SetGraphState(p.get(), GST_STATE_PLAYING);
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(p.get()));
  GstRef<GstMessage> m = Adopt(gst_bus_timed_pop_filtered(
      bus.get(), 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  SetGraphState(p.get(), GST_STATE_NULL);
  return m && GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_EOS;
}

TEST_F(FileGraphTest, CompressedMp4WithoutFrameLengthKeepsTheFormatRate) {
  const std::string mp4 = dir + "/clip.mp4";
  ASSERT_TRUE(
      WriteWithPipeline("videotestsrc num-buffers=10 ! video/x-raw,width=64,height=48,framerate=10/1 ! "
                        "avenc_mpeg4 ! mp4mux ! filesink location=" +
                        mp4));
  SampleRecorder rec;
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(mp4.c_str()), S_OK);
  EXPECT_EQ(g.bAutoRender, 1);  // the decoder's planar output needs a converter
  EXPECT_EQ(g.DurationFrames(), 0);
  EXPECT_GT(g.DurationSeconds(), 0.0);
  EXPECT_NE(log.Text().find("!!! TIME_FORMAT_FRAME not supported!.."), std::string::npos);
  // Without a frame count the rate stays the one of the format (whatever the muxer made of it).
  const int64_t avg = g.Session().Format().mtConnected.vih.AvgTimePerFrame;
  ASSERT_GT(avg, 0);
  EXPECT_NEAR(g.Session().GetFrameRate(), 1e7 / avg, 1e-3);
  char fps[32];
  std::snprintf(fps, sizeof fps, "FPS=%.2f", g.Session().GetFrameRate());
  EXPECT_NE(log.Text().find(fps), std::string::npos);
  g.Session().SetPacing(false);
  rec.Attach(g);
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  EXPECT_EQ(rec.calls.load(), 10);
}

TEST_F(FileGraphTest, ClipCutInsideItsFramesPlaysWhatItHasAndEnds) {
  const std::string clip = MakeClip(dir, "full.avi", "-W 64 -H 48 -n 20");
  ASSERT_FALSE(clip.empty());
  const std::string bytes = ReadFile(clip);
  WriteFile(dir + "/cut.avi", bytes.substr(0, bytes.size() / 2));
  SampleRecorder rec;
  CCapGraph g;
  const HRESULT hr = g.BuildFileGraph((dir + "/cut.avi").c_str());
  if (FAILED(hr)) {
    EXPECT_FALSE(g.HasGraph());
    return;
  }
  g.Session().SetPacing(false);
  rec.Attach(g);
  ASSERT_EQ(g.RunGraph(), S_OK);
  EXPECT_NE(g.WaitGraphEvent(20000), GraphEvent::kNone);  // ends, one way or the other
  EXPECT_LE(rec.calls.load(), 20);
  EXPECT_GT(rec.calls.load(), 0);
}

}  // namespace
}  // namespace ulmora::test

namespace ulmora::test {
namespace {

TEST_F(FileGraphTest, AudioBesideTheVideoIsDroppedWithoutStallingIt) {
  const std::string avi = dir + "/av.avi";
  ASSERT_TRUE(WriteWithPipeline(
      "avimux name=m ! filesink location=" + avi +
      " videotestsrc num-buffers=30 ! video/x-raw,format=YUY2,width=64,height=48,framerate=15/1 ! m.video_0"
      " audiotestsrc num-buffers=40 samplesperbuffer=1024 ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! m.audio_0"));
  SampleRecorder rec;
  CCapGraph g;
  ASSERT_EQ(g.BuildFileGraph(avi.c_str()), S_OK);
  EXPECT_EQ(g.bAutoRender, 0);
  GstRef<GstElement> decoder = Adopt(gst_bin_get_by_name(GST_BIN(g.Pipeline()), "Decoder"));
  ASSERT_TRUE(decoder);
  EXPECT_EQ(decoder->numsrcpads, 2);  // the audio stream is there, unlinked
  EXPECT_EQ(g.DurationFrames(), 30);
  EXPECT_EQ(g.Session().GetFrameRate(), 15.0);
  g.Session().SetPacing(false);
  rec.Attach(g);
  ASSERT_EQ(g.RunGraph(), S_OK);
  ASSERT_TRUE(PlayToEnd(g));
  EXPECT_EQ(rec.calls.load(), 30);
}

}  // namespace
}  // namespace ulmora::test
