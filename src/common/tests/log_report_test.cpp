#include <gtest/gtest.h>

#include <string>

#include "common/clib.h"
#include "common/log.h"
#include "common/report.h"
#include "log_capture.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

class Reports : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordedBoxes().clear();
    SetAssertBoxEntry(RecordBox);
    SetNoticeBoxEntry(RecordBox);
  }
  void TearDown() override {
    SetAssertBoxEntry(nullptr);
    SetNoticeBoxEntry(nullptr);
  }
  LogCapture log;
};

}  // namespace

TEST(LogLifecycle, WithoutCallbackNothingIsLoggedOrCreated) {
  LogReset();
  std::string path = "/tmp/ulmora-never-created.log";
  unlink(path.c_str());
  LogPrintf("a line");
  LogPrintf(nullptr);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_FALSE(LogHasOpenCallback());
}

TEST_F(Reports, EachLineIsFlushedAtOnceAndTextsWithBreaksGiveSeveralLines) {
  LogPrintf("first %d", 1);
  // Read while the stream is still open: the line must already be on disk.
  EXPECT_EQ(log.Text(), "first 1\n");
  LogPrintf("Can`t alloc memory for convertor\n exit...");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"first 1", "Can`t alloc memory for convertor", " exit..."}));
}

TEST_F(Reports, LongLinesAreWrittenWhole) {
  std::string longText(5000, 'x');
  LogPrintf("%s", longText.c_str());
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], longText);
}

namespace {
int g_opens = 0;
FILE* FailingOpen() {
  ++g_opens;
  return nullptr;
}
}  // namespace

TEST(LogLifecycle, ACallbackThatFailsIsAskedAgainAtTheNextLine) {
  LogReset();
  g_opens = 0;
  LogRegisterOpen(FailingOpen);
  LogPrintf("dropped");
  LogPrintf("dropped too");
  EXPECT_EQ(g_opens, 2);
  LogReset();
}

TEST_F(Reports, ASecondInitialisationKeepsTheFirstCallback) {
  EXPECT_EQ(ClibInit(FailingOpen), 0);
  LogPrintf("kept");
  EXPECT_TRUE(log.Contains("kept\n"));
}

TEST_F(Reports, CodedErrorLogsItsTextAndShowsTheNoticeAtTheEnd) {
  ReportError("Foo", kErrNoMemory);
  ReportError(nullptr, 5);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"!Foo(): can`t alloc memory", "!(): error"}));
  EXPECT_TRUE(ErrorFlagSet());
  LogPrintf(nullptr);
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  EXPECT_EQ(RecordedBoxes()[0].text, "accepted of errors in the application: please check log file...");
  EXPECT_EQ(RecordedBoxes()[0].caption, "<none>");
}

TEST_F(Reports, EveryCodeHasItsText) {
  const char* expected[] = {"large size",  "there is no data access", "memory leak",       "unknow type",
                            "expection",   "fatal error",             "can`t alloc memory"};
  for (int code = -9; code <= -3; ++code) EXPECT_STREQ(ErrorCodeText(code), expected[code + 9]) << code;
  EXPECT_STREQ(ErrorCodeText(-2), "error");
  EXPECT_STREQ(ErrorCodeText(0), "error");
}

TEST_F(Reports, ARunWithoutErrorsEndsWithoutABox) {
  LogPrintf("quiet run");
  LogPrintf(nullptr);
  EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(Reports, AtMost101CodedErrorsAreLoggedAndTheFlagStays) {
  for (int i = 0; i < 150; ++i) ReportError("Many", -4);
  EXPECT_EQ(log.Lines().size(), 101u);
  EXPECT_TRUE(ErrorFlagSet());
}

TEST_F(Reports, AssertionBoxesOnlyInTheDebugBuildAndAtMostSix) {
  ReportAssert("bad algoritm", 146, "sg");
  ReportAssert("x", -1, nullptr);
  for (int i = 0; i < 10; ++i) ReportAssert("more", i, "f");
  if (kDebugBuild) {
    ASSERT_EQ(RecordedBoxes().size(), 6u);
    EXPECT_EQ(RecordedBoxes()[0].text, "line 146 bad algoritm");
    EXPECT_EQ(RecordedBoxes()[0].caption, "sg");
    EXPECT_EQ(RecordedBoxes()[1].text, "line ? x");
    EXPECT_EQ(RecordedBoxes()[1].caption, "????");
    EXPECT_EQ(RecordedBoxes()[5].text, "line 3 more");
  } else {
    EXPECT_TRUE(RecordedBoxes().empty());
  }
  // Assertion reports never reach the log.
  EXPECT_EQ(log.Text(), "");
}

TEST_F(Reports, AssertionTextIsCutTo249Characters) {
  std::string text(400, 'a');
  ReportAssert(text.c_str(), 7, "f");
  if (!kDebugBuild) GTEST_SKIP() << "no boxes in this configuration";
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  EXPECT_EQ(RecordedBoxes()[0].text.size(), 249u);
  EXPECT_EQ(RecordedBoxes()[0].text.substr(0, 9), "line 7 aa");
}
