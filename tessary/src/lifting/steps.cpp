#include "lifting/steps.h"

namespace tessary {
namespace {

// One lifting update, unfused: three roundings (sum, product, final sum).
inline float lift(float left, float right, float weight, float target) {
  const float sum = left + right;
  const float product = sum * weight;
  return product + target;
}

}  // namespace

void lift_predict_from_input(const float* x, std::uint64_t n, float* d, float weight) {
  const std::uint64_t m = n / 2;
  // For odd n every odd sample has a right neighbour; for even n the last
  // one does not.
  const std::uint64_t inner = (n % 2 == 1) ? m : m - 1;
  for (std::uint64_t i = 0; i < inner; ++i) {
    d[i] = lift(x[2 * i], x[2 * i + 2], weight, x[2 * i + 1]);
  }
  if (n % 2 == 0) d[m - 1] = lift(x[n - 2], x[n - 2], weight, x[n - 1]);
}

void lift_update_from_input(const float* x, std::uint64_t n, const float* d, float* s,
                            float weight) {
  const std::uint64_t m = n / 2;
  s[0] = lift(d[0], d[0], weight, x[0]);
  for (std::uint64_t i = 1; i < m; ++i) s[i] = lift(d[i - 1], d[i], weight, x[2 * i]);
  if (n % 2 == 1) s[m] = lift(d[m - 1], d[m - 1], weight, x[n - 1]);
}

void lift_update_even(float* s, const float* d, std::uint64_t n, float weight) {
  const std::uint64_t m = n / 2;
  s[0] = lift(d[0], d[0], weight, s[0]);
  for (std::uint64_t i = 1; i < m; ++i) s[i] = lift(d[i - 1], d[i], weight, s[i]);
  if (n % 2 == 1) s[m] = lift(d[m - 1], d[m - 1], weight, s[m]);
}

void lift_predict_odd(const float* s, float* d, std::uint64_t n, float weight) {
  const std::uint64_t m = n / 2;
  const std::uint64_t inner = (n % 2 == 1) ? m : m - 1;
  for (std::uint64_t i = 0; i < inner; ++i) d[i] = lift(s[i], s[i + 1], weight, d[i]);
  if (n % 2 == 0) d[m - 1] = lift(s[m - 1], s[m - 1], weight, d[m - 1]);
}

void lift_scale(const float* v, std::uint64_t count, float factor, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) out[i] = v[i] * factor;
}

void lift_inverse_interleaved(const float* s, const float* d, std::uint64_t n, float* y,
                              float update, float predict) {
  const std::uint64_t m = n / 2;
  y[0] = lift(d[0], d[0], update, s[0]);
  for (std::uint64_t i = 1; i < m; ++i) y[2 * i] = lift(d[i - 1], d[i], update, s[i]);
  if (n % 2 == 1) y[n - 1] = lift(d[m - 1], d[m - 1], update, s[m]);
  const std::uint64_t inner = (n % 2 == 1) ? m : m - 1;
  for (std::uint64_t i = 0; i < inner; ++i) {
    y[2 * i + 1] = lift(y[2 * i], y[2 * i + 2], predict, d[i]);
  }
  if (n % 2 == 0) y[n - 1] = lift(y[n - 2], y[n - 2], predict, d[m - 1]);
}

}  // namespace tessary
