// Straightforward versions of the stages, written as plainly as possible, to check the fast ones.
#pragma once

#include <cstdint>
#include <vector>

#include "frames/dib_frame.h"
#include "processing/frame_processor.h"

namespace ulmora::test {

// A 24-bit view over owned memory, rows padded like a bitmap.
struct View {
  std::vector<uint8_t> store;
  CImageBuf img;
  View(int32_t w, int32_t h, uint8_t fill = 0);
  uint8_t Px(int32_t x, int32_t y) const { return img.bits[y * img.stride + 3 * x]; }
  void SetGrey(int32_t x, int32_t y, uint8_t v) {
    uint8_t* p = img.bits + y * img.stride + 3 * x;
    p[0] = p[1] = p[2] = v;
  }
};

// The frame sum with its counters.
struct RefSum {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> words;
  int32_t nSummed = 0;
  int32_t nSumDivisor = 4;
  int32_t nCountAccum = 4;
  RefSum(int32_t w, int32_t h) : width(w), height(h), words(size_t(w) * h, 0) {}
};

bool RefAccumulate(RefSum& s, const uint8_t* bits, int32_t pad);
// stats null: the re-render.
void RefRender(const RefSum& s, int32_t a, int32_t b, const ToneTable& tone, CImageBuf& view, ProcStats* stats);
void RefMeasureNoise(const CImageBuf& view, ProcStats& stats);
// clip < 0: unclipped.
void RefRows(CImageBuf& view, int32_t clip);
void RefCols(CImageBuf& view, int32_t clip);
void RefRemoveRidgeH(CImageBuf& view, float rms, const ProcStats& stats);
void RefRemoveRidgeV(CImageBuf& view, float rms, const ProcStats& stats);
void RefToneTable(ToneTable& t, int32_t gamma);

}  // namespace ulmora::test
