// Pin functions, the negotiation loops and the grabber, on small real pipelines.
#include "gst/gst_sync.h"
#include "graph/pins.h"

#include <gst/gst.h>

#include <chrono>
#include <thread>

#include "graph/tests/graph_fixture.h"

namespace ulmora::test {
namespace {

class PinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureGstInit());
    pipe = MakeElement("pipeline", "test graph");
    ASSERT_TRUE(pipe);
  }
  void TearDown() override {
    if (pipe) SetGraphState(pipe.get(), GST_STATE_NULL);
  }
  // A source whose output offers only one raw format.
  GstElement* AddSource(const char* format, int buffers = 5) {
    GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* cf = gst_element_factory_make("capsfilter", "Source");
    g_object_set(src, "num-buffers", buffers, nullptr);
    const std::string caps = std::string("video/x-raw,format=") + format + ",width=32,height=16,framerate=5/1";
    GstRef<GstCaps> c = Adopt(gst_caps_from_string(caps.c_str()));
    g_object_set(cf, "caps", c.get(), nullptr);
    gst_bin_add_many(GST_BIN(pipe.get()), src, cf, nullptr);
    EXPECT_TRUE(gst_element_link(src, cf));
    return cf;
  }
  size_t Count(const std::string& what) {
    const std::string text = log.Text();
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  LogCapture log;
  GstRef<GstElement> pipe;
};

TEST_F(PinsTest, FindPinByIndexAndFreePin) {
  GstRef<GstPad> pin;
  EXPECT_EQ(FindPinByIndex(nullptr, GST_PAD_SINK, 0, pin), E_POINTER);
  EXPECT_EQ(FindFreePin(nullptr, GST_PAD_SRC, pin), E_POINTER);
  GstElement* conv = gst_element_factory_make("videoconvert", nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  gst_bin_add_many(GST_BIN(pipe.get()), conv, sink, nullptr);
  ASSERT_EQ(FindPinByIndex(conv, GST_PAD_SINK, 0, pin), S_OK);
  EXPECT_EQ(GST_PAD_DIRECTION(pin.get()), GST_PAD_SINK);
  ASSERT_EQ(FindPinByIndex(conv, GST_PAD_SRC, 0, pin), S_OK);
  EXPECT_EQ(GST_PAD_DIRECTION(pin.get()), GST_PAD_SRC);
  EXPECT_EQ(FindPinByIndex(conv, GST_PAD_SRC, 1, pin), E_FAIL);
  EXPECT_FALSE(pin);
  EXPECT_FALSE(OutputPin(sink));
  EXPECT_TRUE(InputPin(sink));
  ASSERT_EQ(FindFreePin(conv, GST_PAD_SRC, pin), S_OK);
  ASSERT_EQ(ConnectFilterToFilter(pipe.get(), conv, sink), S_OK);
  EXPECT_EQ(FindFreePin(conv, GST_PAD_SRC, pin), E_FAIL);
  EXPECT_EQ(FindFreePin(sink, GST_PAD_SINK, pin), E_FAIL);
  // Nothing free any more on the destination.
  GstRef<GstPad> out = OutputPin(conv);
  EXPECT_EQ(ConnectPinToFilter(pipe.get(), out.get(), sink), E_FAIL);
  EXPECT_EQ(ConnectPinToFilter(nullptr, out.get(), sink), E_POINTER);
  EXPECT_EQ(ConnectPinToFilter(pipe.get(), nullptr, sink), E_POINTER);
  EXPECT_EQ(ConnectPinToFilter(pipe.get(), out.get(), nullptr), E_POINTER);
  EXPECT_EQ(ConnectFilterToFilter(pipe.get(), nullptr, sink), E_POINTER);
}

TEST_F(PinsTest, BgrSourceConnectsAtStepTwoAndRendererFollows) {
  GstElement* src = AddSource("BGR");
  CGrabber grabber;
  ASSERT_TRUE(grabber.Created());
  ASSERT_TRUE(gst_bin_add(GST_BIN(pipe.get()), grabber.Element()));
  ASSERT_EQ(NegotiateSourceToGrabber(pipe.get(), grabber, src, grabber.Element(), kLiveTexts, false), S_OK);
  EXPECT_EQ(Count("Can`t connect to media type: MEDIASUBTYPE_YUY2"), 1u);
  EXPECT_EQ(Count("Trying media type : major type:  MEDIATYPE_Video,    sub type  :  MEDIASUBTYPE_RGB24"), 1u);
  EXPECT_EQ(Count("----------------------"), 2u);  // the live variant closes the loop with a line
  CapsMediaType m;
  ASSERT_TRUE(grabber.GetConnectedMediaType(m));
  EXPECT_EQ(m.mt.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(m.mt.vih.bmiHeader.biWidth, 32);
  EXPECT_EQ(m.mt.vih.AvgTimePerFrame, 2000000);

  ASSERT_EQ(NegotiateGrabberToRenderer(pipe.get(), grabber, grabber.Element(), kLiveTexts), S_OK);
  // Step 1 (YUY2) cannot leave a grabber that takes BGR; the live variant logs nothing for it.
  EXPECT_EQ(Count("Can`t connect to media type"), 1u);
  EXPECT_EQ(Count("Trying media type (Render) Find: major type:  MEDIATYPE_Video,    sub type  :  MEDIASUBTYPE_RGB24"),
            1u);
  GstRef<GstElement> renderer = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "NULL Render"));
  ASSERT_TRUE(renderer);
  gboolean sync = TRUE;
  g_object_get(renderer.get(), "sync", &sync, nullptr);
  EXPECT_FALSE(sync);

  // The agreed format is what really flows.
  std::atomic<int> frames{0};
  grabber.SetCallback(
      [](void* n, double, const Sample* s) {
        if (s && s->length == 96 * 16) ++*static_cast<std::atomic<int>*>(n);
        return 0;
      },
      &frames);
  ASSERT_NE(SetGraphState(pipe.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstRef<GstBus> bus = Adopt(gst_element_get_bus(pipe.get()));
  GstRef<GstMessage> msg = Adopt(gst_bus_timed_pop_filtered(
      bus.get(), 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  ASSERT_TRUE(msg);
  EXPECT_EQ(GST_MESSAGE_TYPE(msg.get()), GST_MESSAGE_EOS);
  EXPECT_EQ(frames.load(), 5);
  SetGraphState(pipe.get(), GST_STATE_NULL);
  grabber.SetCallback(nullptr, nullptr);
}

TEST_F(PinsTest, FormatNeitherStepTakesFailsPinByPinAndConvertsOtherwise) {
  {
    GstElement* src = AddSource("I420");
    CGrabber grabber;
    ASSERT_TRUE(gst_bin_add(GST_BIN(pipe.get()), grabber.Element()));
    EXPECT_LT(NegotiateSourceToGrabber(pipe.get(), grabber, src, grabber.Element(), kLiveTexts, false), 0);
    EXPECT_EQ(Count("Can`t connect to media type: MEDIASUBTYPE_YUY2"), 1u);
    EXPECT_EQ(Count("Can`t connect to media type: MEDIASUBTYPE_RGB24"), 1u);
    EXPECT_EQ(Count("Could not connect to filter pins (1)"), 1u);
    CapsMediaType m;
    EXPECT_FALSE(grabber.GetConnectedMediaType(m));
    SetGraphState(pipe.get(), GST_STATE_NULL);
  }
  pipe = MakeElement("pipeline", "second");
  GstElement* src = AddSource("I420");
  CGrabber grabber;
  ASSERT_TRUE(gst_bin_add(GST_BIN(pipe.get()), grabber.Element()));
  ASSERT_EQ(NegotiateSourceToGrabber(pipe.get(), grabber, src, grabber.Element(), kFileTexts, true), S_OK);
  CapsMediaType m;
  ASSERT_TRUE(grabber.GetConnectedMediaType(m));
  EXPECT_EQ(m.mt.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(m.mt.vih.bmiHeader.biWidth, 32);
  EXPECT_EQ(m.mt.vih.bmiHeader.biHeight, 16);
}

TEST_F(PinsTest, RendererStepWithoutGrabberOutputPin) {
  CGrabber grabber;
  GstElement* notAGrabber = gst_element_factory_make("fakesink", nullptr);
  gst_bin_add(GST_BIN(pipe.get()), notAGrabber);
  EXPECT_LT(NegotiateGrabberToRenderer(pipe.get(), grabber, notAGrabber, kFileTexts), 0);
  EXPECT_EQ(Count("Can't get grabber output pin"), 1u);
}

TEST(Grabber, RemovingTheCallbackWaitsForTheOneInProgress) {
  ASSERT_TRUE(EnsureGstInit());
  GstRef<GstElement> pipe = Adopt(gst_parse_launch("videotestsrc name=src ! fakesink name=end sync=false", nullptr));
  ASSERT_TRUE(pipe);
  gst_object_ref_sink(pipe.get());
  GstRef<GstElement> src = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "src"));
  GstRef<GstElement> end = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "end"));
  CGrabber grabber;
  gst_element_unlink(src.get(), end.get());
  ASSERT_TRUE(gst_bin_add(GST_BIN(pipe.get()), grabber.Element()));
  ASSERT_TRUE(gst_element_link_many(src.get(), grabber.Element(), end.get(), nullptr));
  struct State {
    std::atomic<int> inside{0}, calls{0}, afterRemoval{0};
    std::atomic<bool> removed{false};
  } st;
  grabber.SetCallback(
      [](void* p, double, const Sample*) {
        auto* s = static_cast<State*>(p);
        if (s->removed.load()) ++s->afterRemoval;
        s->inside = 1;
        ++s->calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        s->inside = 0;
        return 0;
      },
      &st);
  ASSERT_NE(SetGraphState(pipe.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  for (int i = 0; i < 5000 && st.calls.load() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GE(st.calls.load(), 2);
  ASSERT_TRUE(grabber.SetCallback(nullptr, nullptr));
  st.removed = true;
  EXPECT_EQ(st.inside.load(), 0);  // the call in progress has returned
  const uint64_t delivered = grabber.FramesDelivered();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(st.afterRemoval.load(), 0);
  EXPECT_EQ(grabber.FramesDelivered(), delivered);
  SetGraphState(pipe.get(), GST_STATE_NULL);
}

TEST(Grabber, RemovalGivesUpAfterItsBound) {
  ASSERT_TRUE(EnsureGstInit());
  GstRef<GstElement> pipe = Adopt(gst_parse_launch("videotestsrc name=src ! fakesink name=end sync=false", nullptr));
  ASSERT_TRUE(pipe);
  gst_object_ref_sink(pipe.get());
  GstRef<GstElement> src = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "src"));
  GstRef<GstElement> end = Adopt(gst_bin_get_by_name(GST_BIN(pipe.get()), "end"));
  ASSERT_TRUE(src);
  CGrabber grabber;
  gst_element_unlink(src.get(), end.get());
  ASSERT_TRUE(gst_bin_add(GST_BIN(pipe.get()), grabber.Element()));
  ASSERT_TRUE(gst_element_link_many(src.get(), grabber.Element(), end.get(), nullptr));
  std::atomic<int> calls{0};
  grabber.SetCallback(
      [](void* p, double, const Sample*) {
        ++*static_cast<std::atomic<int>*>(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 0;
      },
      &calls);
  ASSERT_NE(SetGraphState(pipe.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  for (int i = 0; i < 5000 && calls.load() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(calls.load(), 1);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(grabber.SetCallback(nullptr, nullptr, 20));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
  SetGraphState(pipe.get(), GST_STATE_NULL);
  EXPECT_EQ(calls.load(), 1);
}

}  // namespace
}  // namespace ulmora::test
