// The README's picture of the tune: its spectrogram over the whole piece, with the frame's landmarks
// that the music is written to (the middles of the credits' gaps and the centre-piece's turns).
#include <algorithm>
#include <cmath>
#include <complex>
#include <string>

#include "fft.h"
#include "media.h"
#include "timeline.h"

// The picture: a band of labels, the spectrogram (30 Hz to 16 kHz, on a logarithmic scale), and
// a time axis; one column per 1/1200 of the piece.
constexpr int kWidth = 1200, kTop = 40, kBand = 360, kAxis = 28;
constexpr double kLowHz = 30.0, kHighHz = 16000.0, kRangeDb = 90.0;
constexpr size_t kWindow = 4096;

// Colour of a level from 0 (silence) to 1 (the loudest part): night blue, violet, red, orange, white.
static Rgb levelColour(float v) {
  static const Rgb stops[] = {rgb8(0, 0, 30), rgb8(60, 20, 120), rgb8(180, 40, 110), rgb8(250, 150, 40), rgb8(255, 250, 225)};
  const float x = clamp01(v) * 4.0f;
  const int i = std::min(int(x), 3);
  return mix(stops[i], stops[i + 1], x - float(i));
}

// The power spectrum of the mono mix around one sample.
static std::vector<double> powerAt(const std::vector<int16_t> &stereo, long centre, const std::vector<double> &hann) {
  std::vector<std::complex<double>> x(kWindow);
  const long frames = long(stereo.size() / 2);
  for (size_t i = 0; i < kWindow; ++i) {
    const long s = centre - long(kWindow / 2) + long(i);
    const double v = s >= 0 && s < frames ? (stereo[size_t(2 * s)] + stereo[size_t(2 * s + 1)]) / 65536.0 : 0.0;
    x[i] = v * hann[i];
  }
  fftInPlace(x);
  std::vector<double> power(kWindow / 2);
  for (size_t k = 0; k < power.size(); ++k) power[k] = std::norm(x[k]);
  return power;
}

// The spectrogram's band: each pixel the loudest bin of its frequency span, in dB below the
// loudest of the whole piece.
static void paintBand(Picture &pic, const std::vector<int16_t> &stereo) {
  const std::vector<double> hann = hannWindow(kWindow);
  std::vector<float> db(size_t(kWidth) * kBand);
  const double frames = double(stereo.size() / 2);
  for (int c = 0; c < kWidth; c++) {
    const std::vector<double> power = powerAt(stereo, long((c + 0.5) / kWidth * frames), hann);
    for (int y = 0; y < kBand; y++) {
      const auto hz = [](double row) { return kLowHz * std::pow(kHighHz / kLowHz, 1.0 - row / kBand); };
      const size_t from = size_t(hz(y + 1) / double(kMusicRate) * kWindow), to = std::max(from, size_t(hz(y) / double(kMusicRate) * kWindow));
      double peak = 1e-20;
      for (size_t k = from; k <= to && k < power.size(); k++) peak = std::max(peak, power[k]);
      db[size_t(y) * kWidth + c] = float(10.0 * std::log10(peak));
    }
  }
  const float top = *std::max_element(db.begin(), db.end());
  for (int y = 0; y < kBand; y++)
    for (int c = 0; c < kWidth; c++) {
      pic.px[size_t(kTop + y) * kWidth + c] = levelColour(float((db[size_t(y) * kWidth + c] - top + kRangeDb) / kRangeDb));
    }
}

// A dashed vertical line over the band at a time, and its label above it.
static void landmark(Picture &pic, double seconds, double length, const std::string &label, Rgb colour) {
  const int x = int(seconds / length * kWidth);
  for (int y = kTop; y < kTop + kBand; y++) {
    if ((y / 4) % 2 == 0) pic.px[size_t(y) * kWidth + x] = mix(pic.px[size_t(y) * kWidth + x], colour, 0.85f);
  }
  fontDraw(pic, std::clamp(x - fontTextWidth(label) / 2, 2, kWidth - 2 - fontTextWidth(label)), kTop - 8, label, colour);
}

std::vector<uint8_t> tuneSpectrogram(const std::vector<int16_t> &stereo) {
  Picture pic = pictureNew(kWidth, kTop + kBand + kAxis, rgb8(0, 0, 30));
  paintBand(pic, stereo);
  const double length = double(stereo.size() / 2) / double(kMusicRate);
  fontOpen(kFontPath, 12, 12);
  // The credits vanish around 6 pi s and every 8 pi s after; the centre-piece turns at 10 pi s and
  // every 20 pi s after, the second time in the middle of a gap.
  for (double gap = kFirstGapMiddle; gap < length; gap += kGapPeriod) {
    const bool turn = std::fabs(std::remainder(gap - kFirstTurn, kTurnPeriod)) < 1e-9;
    landmark(pic, gap, length, turn ? "gap + turn" : "gap", turn ? rgb8(255, 225, 90) : rgb8(235, 235, 245));
  }
  for (double turn = kFirstTurn; turn < length; turn += kTurnPeriod) {
    if (std::fabs(std::remainder(turn - kFirstGapMiddle, kGapPeriod)) > 1e-9) landmark(pic, turn, length, "turn", rgb8(255, 225, 90));
  }
  for (int s = 0; s < length; s += 10) {
    const int x = int(s / length * kWidth);
    for (int y = kTop + kBand; y < kTop + kBand + (s % 20 ? 4 : 7); y++) pic.px[size_t(y) * kWidth + x] = rgb8(200, 200, 215);
    if (s % 20 == 0) fontDraw(pic, std::max(x - fontTextWidth(std::to_string(s) + " s") / 2, 2), kTop + kBand + 21,
                              std::to_string(s) + " s", rgb8(200, 200, 215));
  }
  std::vector<uint8_t> rgb;
  for (const Rgb &c : pic.px)
    for (float v : {c.r, c.g, c.b}) rgb.push_back(toByte(v));
  return pngRgb(kWidth, kTop + kBand + kAxis, rgb);
}
