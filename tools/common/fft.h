// A small in-place FFT for the tools' looks at the music: the tune's onset analysis and the
// README's spectrogram.
#ifndef PARKHAUS_TOOLS_FFT_H
#define PARKHAUS_TOOLS_FFT_H

#include <cmath>
#include <complex>
#include <utility>
#include <vector>

// Transforms x in place (radix 2, decimation in time); its length must be a power of two.
inline void fftInPlace(std::vector<std::complex<double>> &x) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2.0 * M_PI / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1.0;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * w;
        x[i + k] = a + b;
        x[i + k + len / 2] = a - b;
      }
    }
  }
}

// A Hann window of n points.
inline std::vector<double> hannWindow(size_t n) {
  std::vector<double> w(n);
  for (size_t i = 0; i < n; ++i) w[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
  return w;
}

#endif
