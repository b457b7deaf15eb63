#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/tests/log_capture.h"
#include "settings/profile.h"
#include "settings/profile_keys.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

std::string MakeTempDir() {
  char pattern[] = "/tmp/ulmora-profile-XXXXXX";
  return mkdtemp(pattern);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    path = dir + "/ulmora.ini";
    ProfileUsePath(path);
    ProfileSetReadOnly(false);
    ProfileClearOverrides();
  }
  void TearDown() override {
    ProfileUsePath("");
    std::string cmd = "rm -rf '" + dir + "'";
    (void)system(cmd.c_str());
  }
  LogCapture log;
  std::string dir, path;
};

}  // namespace

TEST_F(Profile, AMissingFileGivesEveryDefault) {
  size_t count = 0;
  const ProfileKeyInfo* table = ProfileKeyTable(count);
  for (size_t i = 0; i < count; ++i) {
    const ProfileKeyInfo& k = table[i];
    if (k.encoding == KeyEncoding::Text) {
      char buf[1024];
      ProfileReadText(k.id, buf, sizeof buf);
      EXPECT_STREQ(buf, k.defaultText) << k.name;
    } else {
      EXPECT_EQ(ProfileReadInt(k.id), k.defaultValue) << k.name;
    }
  }
  EXPECT_FLOAT_EQ(ProfileReadHundredths(ProfileKey::ProcRMSH), 2.0f);
  EXPECT_FLOAT_EQ(ProfileReadHundredths(ProfileKey::ProcRMSV), 0.5f);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "reading must not create the file";
  EXPECT_EQ(log.Text(), "");
}

TEST_F(Profile, IntegersRoundTripWithTheirSign) {
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcBlackLevel, -150));
  EXPECT_NE(ReadFile(path).find("ProcBlackLevel=-150"), std::string::npos);
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcBlackLevel), -150);
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::CapCount, -1));  // "%u": 4294967295
  EXPECT_NE(ReadFile(path).find("CapCount=4294967295"), std::string::npos);
  EXPECT_EQ(static_cast<uint32_t>(ProfileReadInt(ProfileKey::CapCount)), 4294967295u);
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcAmp, INT32_MIN));
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), INT32_MIN);
  // Both sections live in one file.
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::MasterStream, 0));
  EXPECT_EQ(ProfileReadInt(ProfileKey::MasterStream), 0);
  EXPECT_EQ(ProfileGetInt(kSectionBrisk, "ProcBlackLevel", 77), 77);
}

TEST_F(Profile, IntegerTextsReadLikeTheirDecimalValue) {
  std::ofstream(path) << "[nocta]\nProcAmp=  +24xyz\nProcGamma=abc\nProcNRH=\n";
  EXPECT_EQ(ProfileGetInt(kSectionNocta, "ProcAmp", 16), 24);
  EXPECT_EQ(ProfileGetInt(kSectionNocta, "ProcGamma", 128), 0);
  EXPECT_EQ(ProfileGetInt(kSectionNocta, "ProcNRH", 5), 0);
  EXPECT_EQ(ProfileGetInt(kSectionNocta, "Missing", 5), 5);
}

TEST_F(Profile, ThresholdsAreStoredAsHundredthsWithoutDrift) {
  std::ofstream(path) << "[nocta]\nProcRMSH=123\n";
  EXPECT_FLOAT_EQ(ProfileReadHundredths(ProfileKey::ProcRMSH), 1.23f);
  EXPECT_EQ(HundredthsOf(1.239f), 123);
  EXPECT_EQ(HundredthsOf(-0.5f), -50);
  // Every value the store can read is written back as the same text.
  for (int n = -1000; n <= 10000; ++n) {
    float read = static_cast<float>(n * 0.01);
    ASSERT_EQ(HundredthsOf(read), n) << n;
  }
  EXPECT_TRUE(ProfileWriteHundredths(ProfileKey::ProcRMSV, 0.29f));
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcRMSV), 29);
}

TEST_F(Profile, TextsComeBackUnchangedUpToTheBufferAndEmptyTextsAreNotWritten) {
  const char* tricky = "c:\\temp\\ #x ;y =z [w]  \xc3\xa9 ";
  EXPECT_TRUE(ProfileWriteText(ProfileKey::CapWorkDir, tricky));
  char buf[260];
  ProfileReadText(ProfileKey::CapWorkDir, buf, sizeof buf);
  EXPECT_STREQ(buf, tricky);
  EXPECT_EQ(ProfileReadText(ProfileKey::CapWorkDir, buf, 5), 4u);
  EXPECT_STREQ(buf, "c:\\t");

  EXPECT_TRUE(ProfileWriteText(ProfileKey::CapFormat, "abc%f"));
  EXPECT_FALSE(ProfileWriteText(ProfileKey::CapFormat, ""));
  ProfileReadText(ProfileKey::CapFormat, buf, sizeof buf);
  EXPECT_STREQ(buf, "abc%f");
}

TEST_F(Profile, WritesKeepOtherKeysAndCommentsAndLeaveNoTemporaryFiles) {
  std::ofstream(path) << "# my notes\n[nocta]\nProcAmp=40\n[other]\nmine=1\n";
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcGamma, 200));
  std::string text = ReadFile(path);
  EXPECT_NE(text.find("# my notes"), std::string::npos);
  EXPECT_NE(text.find("mine=1"), std::string::npos);
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 40);
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcGamma), 200);
  DIR* d = opendir(dir.c_str());
  std::set<std::string> names;
  while (dirent* e = readdir(d)) names.insert(e->d_name);
  closedir(d);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "ulmora.ini"}));
}

TEST_F(Profile, WritingReplacesTheFileByRenameSoReadersNeverSeeHalfAFile) {
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcAmp, 1));
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcAmp, 2));
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "the profile was rewritten in place";
}

TEST_F(Profile, AMalformedLineIsSkippedAndEveryKeyThatParsesIsKept) {
  std::ofstream(path) << "[nocta]\nCapWorkDir=/data/night/\nProcAmp 128\nProcGamma=90\n";
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcGamma), 90);
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 16);
  char dir[64];
  ProfileReadText(ProfileKey::CapWorkDir, dir, sizeof dir);
  EXPECT_STREQ(dir, "/data/night/");
  // One warning per version of the file, however many keys are read.
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], "Profile " + path + ": line 3 skipped (not a key=value line): ProcAmp 128");
  std::string why;
  EXPECT_TRUE(ProfileCheckReadable(&why)) << why;
  EXPECT_EQ(access((path + ".corrupt").c_str(), F_OK), -1) << "nothing is moved aside";
  // A save keeps the keys and the refused line, as a comment the user can mend.
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcAmp, 20));
  EXPECT_EQ(ReadFile(path), "[nocta]\nCapWorkDir=/data/night/\n# ProcAmp 128\nProcGamma=90\nProcAmp=20\n");
}

TEST_F(Profile, ByteOrderMarkCarriageReturnsAndControlBytesAreTakenSafely) {
  std::ofstream(path) << "\xEF\xBB\xBF[nocta]\r\nProcAmp=40\r\n\x01\x1b[2J oops\r\n";
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 40);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find("line 3 skipped (not a key=value line): \\x01\\x1B[2J oops"), std::string::npos)
      << "quoted bytes reach the log escaped: " << log.Lines()[0];
}

TEST_F(Profile, NoLineASettingOrNotARegularFileGivesDefaultsWithoutWaiting) {
  const std::string garbage = "[nocta\nProcAmp=99\n";
  std::ofstream(path) << garbage;
  std::string why;
  EXPECT_FALSE(ProfileCheckReadable(&why));
  EXPECT_EQ(why, "no line of it is a setting");
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 16);
  EXPECT_EQ(ReadFile(path), garbage) << "reading never rewrites";

  // A FIFO would block a plain open until a writer came.
  unlink(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(ProfileCheckReadable(&why));
  EXPECT_EQ(why, "not a regular file");
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 16);
}

TEST_F(Profile, AnUnwritableProfileCostsOneLogLine) {
  std::string blocker = dir + "/plainfile";
  std::ofstream(blocker) << "x";
  ProfileUsePath(blocker + "/sub/ulmora.ini");
  EXPECT_FALSE(ProfileWriteInt(ProfileKey::ProcAmp, 3));
  EXPECT_FALSE(ProfileWriteText(ProfileKey::CapFormat, "abc"));
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 16);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find("Can`t write profile " + blocker + "/sub/ulmora.ini"), std::string::npos);
  EXPECT_EQ(ReadFile(blocker), "x");
  // What the program shows on screen when its settings could not be saved.
  EXPECT_EQ(ProfileWriteFailure().rfind(blocker + "/sub/ulmora.ini: ", 0), 0u) << ProfileWriteFailure();
  ProfileUsePath(path);
  EXPECT_EQ(ProfileWriteFailure(), "");
}

TEST_F(Profile, TheDefaultLocationFollowsTheEnvironment) {
  ProfileUsePath("");
  setenv("ULMORA_PROFILE", "/x/named.ini", 1);
  EXPECT_EQ(ProfilePath(), "/x/named.ini");
  unsetenv("ULMORA_PROFILE");
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  EXPECT_EQ(ProfilePath(), dir + "/ulmora/ulmora.ini");
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcAmp, 5));  // creates the folder
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 5);
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(ProfilePath(), "/home/someone/.config/ulmora/ulmora.ini");
}

TEST_F(Profile, OverridesWinOverTheFileAndReadOnlyWritesNothing) {
  ProfileWriteInt(ProfileKey::ProcAmp, 30);
  ProfileSetOverride(kSectionNocta, "ProcAmp", "48");
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 48);
  ProfileSetReadOnly(true);
  EXPECT_TRUE(ProfileWriteInt(ProfileKey::ProcGamma, 1));
  ProfileSetReadOnly(false);
  ProfileClearOverrides();
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcAmp), 30);
  EXPECT_EQ(ProfileReadInt(ProfileKey::ProcGamma), 128);
}

TEST(ProfileKeys, NamesAreUniquePerSectionAndFoundByName) {
  size_t count = 0;
  const ProfileKeyInfo* table = ProfileKeyTable(count);
  std::set<std::string> seen;
  for (size_t i = 0; i < count; ++i)
    EXPECT_TRUE(seen.insert(std::string(table[i].section) + "/" + table[i].name).second) << table[i].name;
  ASSERT_NE(FindNoctaKey("ProcAmp"), nullptr);
  EXPECT_EQ(FindNoctaKey("ProcAmp")->id, ProfileKey::ProcAmp);
  EXPECT_EQ(FindNoctaKey("VideoDevice2"), nullptr) << "a brisk key";
  EXPECT_EQ(FindNoctaKey("procamp"), nullptr);
}
