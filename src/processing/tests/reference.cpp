#include "reference.h"

#include <cmath>

namespace ulmora::test {

View::View(int32_t w, int32_t h, uint8_t fill) {
  img.width = w;
  img.height = h;
  img.stride = (3 * w + 3) & ~3;
  img.pad = img.stride - 3 * w;
  img.size = img.stride * h;
  store.assign(size_t(img.size) + 64, fill);
  img.bits = store.data();
  img.capacity = img.size;
}

bool RefAccumulate(RefSum& s, const uint8_t* bits, int32_t pad) {
  if (s.nSummed == 0)
    for (auto& w : s.words) w = 0;
  const uint8_t* p = bits;
  uint32_t* out = s.words.data();
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < s.width; ++x) {
      *out++ += p[0];
      p += 3;
    }
    p += pad;
  }
  s.nSummed += 1;
  if (s.nSummed < s.nCountAccum) return false;
  s.nSumDivisor = s.nSummed;
  s.nSummed = 0;
  return true;
}

void RefRender(const RefSum& s, int32_t a, int32_t b, const ToneTable& tone, CImageBuf& view, ProcStats* stats) {
  const int32_t n = s.nSumDivisor;
  int32_t overflow = 0, brightest = 0, smax = 0;
  uint8_t* out = view.bits;
  const uint32_t* sum = s.words.data();
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < s.width; ++x) {
      const int32_t S = static_cast<int32_t>(*sum++);
      const int32_t level = (((S * a) >> 4) + (n >> 1)) / n + b;
      uint8_t o;
      if (level >= 255) {
        o = 255;
        if (level > 255) ++overflow;
      } else if (level <= 0) {
        o = 0;
      } else {
        o = tone.entry[level].out;
        if (o > brightest) brightest = o;
      }
      out[0] = out[1] = out[2] = o;
      out += 3;
      if (S > smax) smax = S;
    }
    out += view.pad;
  }
  if (stats) {
    int32_t peak = (smax + (n >> 1)) / n;
    stats->nOverflow = overflow;
    stats->nPeakLevel = peak < 0 ? 0 : (peak > 255 ? 255 : peak);
    stats->nBrightest = brightest;
  }
}

void RefMeasureNoise(const CImageBuf& view, ProcStats& st) {
  const double N = double(view.width) * view.height;
  double s1 = 0, s2 = 0;
  for (int32_t y = 0; y < view.height; ++y)
    for (int32_t x = 0; x < view.width; ++x) {
      const double v = view.bits[y * view.stride + 3 * x];
      s1 += v;
      s2 += v * v;
    }
  double mean = s1 * (1.0 / N);
  double var = s2 * (1.0 / N) - mean * mean;
  double sigma, lo, hi;
  if (var <= 0) {
    sigma = 0;
    lo = hi = std::nearbyint(mean);
  } else {
    sigma = std::sqrt(var);
    lo = std::nearbyint(mean - 4.0 * sigma);
    hi = std::nearbyint(mean + 2.0 * sigma);
  }
  st.fMean = float(mean);
  st.fSigma = float(sigma);
  double n = 0;
  s1 = s2 = 0;
  for (int32_t y = 0; y < view.height; ++y)
    for (int32_t x = 0; x < view.width; ++x) {
      const double v = view.bits[y * view.stride + 3 * x];
      if (lo <= v && v <= hi) {
        n += 1;
        s1 += v;
        s2 += v * v;
      }
    }
  if (n == 0) return;
  mean = s1 * (1.0 / n);
  var = s2 * (1.0 / n) - mean * mean;
  sigma = var > 0 ? std::sqrt(var) : 0;
  st.fMean = float(mean);
  st.fSigma = float(sigma);
}

static uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void RefRows(CImageBuf& view, int32_t clip) {
  const int32_t w = view.width, h = view.height;
  std::vector<uint32_t> R(h, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t v = view.bits[y * view.stride + 3 * x];
      R[y] += clip < 0 ? v : (v < uint32_t(clip) ? v : uint32_t(clip));
    }
  uint32_t total = 0;
  for (uint32_t r : R) total += r;
  const int32_t avg = int32_t(total + uint32_t(h >> 1)) / h;
  for (int32_t y = 0; y < h; ++y) {
    const int32_t d = int32_t(R[y] + uint32_t(w >> 1) - uint32_t(avg)) / w;
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = view.bits + y * view.stride + 3 * x;
      p[0] = p[1] = p[2] = Clamp(p[0] - d);
    }
  }
}

void RefCols(CImageBuf& view, int32_t clip) {
  const int32_t w = view.width, h = view.height;
  std::vector<uint32_t> Q(w, 0);
  for (int32_t x = 0; x < w; ++x)
    for (int32_t y = 0; y < h; ++y) {
      const uint32_t v = view.bits[y * view.stride + 3 * x];
      Q[x] += clip < 0 ? v : (v < uint32_t(clip) ? v : uint32_t(clip));
    }
  uint32_t total = 0;
  for (uint32_t q : Q) total += q;
  const int32_t avg = int32_t(total + uint32_t(w >> 1)) / w;
  for (int32_t x = 0; x < w; ++x) {
    const int32_t d = int32_t(Q[x] + uint32_t(h >> 1) - uint32_t(avg)) / h;
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* p = view.bits + y * view.stride + 3 * x;
      p[0] = p[1] = p[2] = Clamp(p[0] - d);
    }
  }
}

static float Threshold(float rms, const ProcStats& s) { return std::nearbyint(rms * s.fSigma + s.fMean); }

void RefRemoveRidgeH(CImageBuf& view, float rms, const ProcStats& stats) {
  const float t = Threshold(rms, stats);
  if (t < 1) return;
  RefRows(view, t >= 254 ? -1 : int32_t(t));
}

void RefRemoveRidgeV(CImageBuf& view, float rms, const ProcStats& stats) {
  const float t = Threshold(rms, stats);
  if (t < 1) return;
  RefCols(view, t >= 253 ? -1 : int32_t(t));
}

void RefToneTable(ToneTable& t, int32_t gamma) {
  double g;
  if (gamma == 128)
    g = 1.0;
  else if (gamma < 128)
    g = double(gamma) / 128.0;
  else
    g = double(gamma - 128) / 128.0 * 5.0 + 1.0;
  const float gf = float(g);
  for (int i = 0; i < 255; ++i) {
    if (gf == 1.0f) {
      t.entry[i].out = uint8_t(i);
      continue;
    }
    const float e = float(1.0 / gf);
    const int r = int(std::pow(i * 0.00392156862745098, double(e)) * 255.0 + 0.5);
    t.entry[i].out = uint8_t(r < 255 ? r : 255);
  }
}

}  // namespace ulmora::test
