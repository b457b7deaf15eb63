// FITS pictures read back through cfitsio and checked by fitsverify: unsigned 8 and 16 bits, rows
// top-down, the time, exposure and processing keys; one file per picture under numbered names.
#include <fitsio.h>
#include <gtest/gtest.h>

#include "rec_test_util.h"
#include "recording/fits_sink.h"

using namespace ulmora;
using namespace ulmora::test;

namespace {

class FitsSink : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE((dir = MakeRecDir()).empty()); }
  void TearDown() override { RemoveRecDir(dir); }
  std::string dir;
};

std::string Key(fitsfile* f, const char* name) {
  char value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
  int status = 0;
  fits_read_keyword(f, name, value, comment, &status);
  return status == 0 ? value : "(missing)";
}

TEST_F(FitsSink, PicturesReadBackWithTheirKeys) {
  RecordOptions o;
  o.path = dir + "/night.fits";
  o.what = RecordWhat::kSum;
  o.context.deviceName = "Test Camera";
  std::string error;
  auto sink = MakeFitsSink(o, error);
  ASSERT_TRUE(sink) << error;
  TestPicture a(5, 3, 16, 1, 1'700'000'000'123'456'789LL), b(5, 3, 8, 2, 1'700'000'001'000'000'000LL);
  // The full 16-bit range survives the offset cfitsio stores unsigned words with.
  a.pixels[0] = 0xff, a.pixels[1] = 0xff, a.pixels[2] = 0, a.pixels[3] = 0;
  a.picture.stamp.exposureS = 0.16;
  a.picture.stamp.nFrames = 4;
  a.picture.settings = {24, -5, 100, true, false};
  ASSERT_EQ(sink->Write(a.picture, error), 0) << error;
  ASSERT_EQ(sink->Write(b.picture, error), 0) << error;
  ASSERT_EQ(sink->Close(error), 0);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"night-000001.fits", "night-000002.fits"}));
  EXPECT_EQ(
      std::system(
          ("fitsverify -q -e '" + dir + "/night-000001.fits' '" + dir + "/night-000002.fits' >/dev/null").c_str()),
      0);

  fitsfile* f = nullptr;
  int status = 0;
  fits_open_diskfile(&f, (dir + "/night-000001.fits").c_str(), READONLY, &status);
  ASSERT_EQ(status, 0);
  int bitpix = 0;
  fits_get_img_equivtype(f, &bitpix, &status);
  EXPECT_EQ(bitpix, USHORT_IMG);
  EXPECT_EQ(Key(f, "BITPIX"), "16");
  EXPECT_EQ(Key(f, "BZERO"), "32768");
  std::vector<uint16_t> got(15);
  fits_read_img(f, TUSHORT, 1, 15, nullptr, got.data(), nullptr, &status);
  ASSERT_EQ(status, 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(got[i], a.pixels[2 * i] | a.pixels[2 * i + 1] << 8) << i;
  EXPECT_EQ(got[0], 65535);
  EXPECT_EQ(got[1], 0);
  EXPECT_EQ(Key(f, "DATE-OBS"), "'2023-11-14T22:13:20.123'");
  EXPECT_EQ(Key(f, "NFRAMES"), "4");
  EXPECT_NEAR(std::stod(Key(f, "EXPTIME")), 0.16, 1e-9);
  EXPECT_EQ(Key(f, "ROWORDER"), "'TOP-DOWN'");
  EXPECT_EQ(Key(f, "INSTRUME"), "'Test Camera'");
  EXPECT_EQ(Key(f, "ULAMP"), "24");
  EXPECT_EQ(Key(f, "ULBLACK"), "-5");
  EXPECT_EQ(Key(f, "ULGAMMA"), "100");
  EXPECT_EQ(Key(f, "ULBANDH"), "T");
  EXPECT_EQ(Key(f, "ULBANDV"), "F");
  fits_close_file(f, &status);

  fits_open_diskfile(&f, (dir + "/night-000002.fits").c_str(), READONLY, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Key(f, "BITPIX"), "8");
  std::vector<uint8_t> bytes(15);
  fits_read_img(f, TBYTE, 1, 15, nullptr, bytes.data(), nullptr, &status);
  EXPECT_EQ(bytes, b.pixels);
  EXPECT_EQ(Key(f, "DATE-OBS"), "'2023-11-14T22:13:21.000'");
  fits_close_file(f, &status);
  EXPECT_EQ(sink->Files().size(), 2u);
}

TEST_F(FitsSink, ATakenNameIsKeptAndTheDateRoundsDown) {
  { std::ofstream(dir + "/x-000001.fits") << "precious"; }
  RecordOptions o;
  o.path = dir + "/x.fits";
  std::string error;
  auto sink = MakeFitsSink(o, error);
  ASSERT_TRUE(sink);
  TestPicture a(2, 2, 8, 1, 0);
  ASSERT_EQ(sink->Write(a.picture, error), 0) << error;
  EXPECT_EQ(Slurp(dir + "/x-000001.fits"), "precious");
  EXPECT_EQ(sink->Files(), std::vector<std::string>{dir + "/x-000001-2.fits"});
  EXPECT_EQ(FitsDate(1'999'999), "1970-01-01T00:00:00.001");
}

}  // namespace
