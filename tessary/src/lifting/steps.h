// Portable lifting updates shared by Cdf53 and Cdf97. A signal of n samples
// splits into a = ceil(n/2) even samples s (positions 2i) and m = floor(n/2)
// odd samples d (positions 2i + 1), n >= 3. Every update is
//   target = (neighbour + neighbour) * weight + target
// with the neighbour sum rounded first, then the product and the final sum
// rounded separately (the build never contracts them into a fused
// multiply-add). A neighbour missing beyond the last sample is replaced by
// the sample on the near side, so the border samples use it twice.
#pragma once

#include <cstdint>

namespace tessary {

// d[i] = (x[2i] + x[2i + 2]) * weight + x[2i + 1]; for even n the last one
// uses x[n - 2] twice.
void lift_predict_from_input(const float* x, std::uint64_t n, float* d, float weight);

// s[i] = (d[i - 1] + d[i]) * weight + x[2i]: copies the even samples and
// runs the first update in one loop. s[0] uses d[0] twice, and for odd n
// the last one uses d[m - 1] twice.
void lift_update_from_input(const float* x, std::uint64_t n, const float* d, float* s,
                            float weight);

// In place: s[i] = (d[i - 1] + d[i]) * weight + s[i], borders as above.
void lift_update_even(float* s, const float* d, std::uint64_t n, float weight);

// In place: d[i] = (s[i] + s[i + 1]) * weight + d[i]; for even n the last
// one uses s[a - 1] twice.
void lift_predict_odd(const float* s, float* d, std::uint64_t n, float weight);

// out[i] = v[i] * factor; out may be v.
void lift_scale(const float* v, std::uint64_t count, float factor, float* out);

// The last two inverse updates, written straight into the interleaved
// output y of n samples, so that no working band is needed:
//   y[2i]     = (d[i - 1] + d[i]) * update + s[i]          (undo an update)
//   y[2i + 1] = (y[2i] + y[2i + 2]) * predict + d[i]       (undo a predict)
// with the borders of the forward steps.
void lift_inverse_interleaved(const float* s, const float* d, std::uint64_t n, float* y,
                              float update, float predict);

}  // namespace tessary
