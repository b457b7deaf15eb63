// Tone curves and the YUY2-to-grey conversion the frame path feeds the chain with.
#pragma once

#include <cstdint>

namespace ulmora {

// 255 entries of 4 bytes; only the first byte of an entry (the output level) is used.
struct ToneEntry {
  uint8_t out;
  uint8_t unused[3];
};
struct ToneTable {
  ToneEntry entry[255];
};
static_assert(sizeof(ToneTable) == 1020);

// Gamma setting 1..256 (128 = linear) to the curve's factor: v/128 below 128, up to 6.0 at 256.
double GammaFactor(uint32_t v);

// Fills entries 0..254 for factor g (exponent 1/g); g == 1.0f gives the identity.
void BuildToneTable(ToneTable& table, float g);

// Packed YUY2 (Y0 U Y1 V) to 24-bit grey: each luma goes unchanged into B, G and R.
// dstPad bytes are skipped after each destination row (the row padding of a 24-bit view);
// srcStride is the source row length in bytes, 0 for packed rows of whole macropixels.
// An odd width takes the last pixel from the first luma of its macropixel.
// The grey levels the sum takes from B, G, R rows (the first byte of each pixel), packed into dst;
// pad is the source's row padding. Vector code where the CPU has it.
void GreyFromBgr(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int32_t pad);
void YUY2ToGrey(uint8_t* dst, int32_t dstPad, const uint8_t* src, int32_t srcStride, int32_t width, int32_t height);

}  // namespace ulmora
