// AVX2 + FMA lifting passes shared by AvxCdf53 and AvxCdf97. Band layout and
// borders as in the portable lifting steps (s: the a = ceil(n/2) even
// samples, d: the m = floor(n/2) odd ones, n >= 3), but each update is one
// fused multiply-add of the rounded neighbour sum, and each pass runs two
// lifting updates over the data at once. Scaling is a plain multiply.
#pragma once

#include <cstdint>

namespace tessary::avx {

class AvxLiftingF32 {
 public:
  // From the n input samples x:
  //   d[i] = (x[2i] + x[2i + 2]) * predict + x[2i + 1]
  //   s[i] = (d[i - 1] + d[i]) * update + x[2i]
  static void forward_from_input(const float* x, std::uint64_t n, float* s, float* d,
                                 float predict, float update);
  // In place, then scaled:
  //   d[i] = (s[i] + s[i + 1]) * predict + d[i]
  //   s[i] = (d[i - 1] + d[i]) * update + s[i]     (with the new d)
  //   s[i] *= scale_s, d[i] *= scale_d
  static void forward_in_place(float* s, float* d, std::uint64_t n, float predict, float update,
                               float scale_s, float scale_d);
  // From the scaled bands e = s * scale_s, o = d * scale_d into e_out, o_out:
  //   e[i] = (o[i - 1] + o[i]) * update + e[i]
  //   o[i] = (e[i] + e[i + 1]) * predict + o[i]    (with the new e)
  // e_out may be s: position i is written only after s[i] and s[i + 1] are read.
  static void inverse_to_bands(const float* s, const float* d, std::uint64_t n, float* e_out,
                               float* o_out, float update, float predict, float scale_s,
                               float scale_d);
  // The same pair without scaling, interleaved into the n output samples y
  // (y[2i] = e[i], y[2i + 1] = o[i]). s may be y + floor(n/2): y[2i],
  // y[2i + 1] are written only after every s sample below i + 1 is read.
  static void inverse_to_signal(const float* s, const float* d, std::uint64_t n, float* y,
                                float update, float predict);
};

}  // namespace tessary::avx
