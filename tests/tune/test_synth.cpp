// The synthesiser's building blocks and the mastering stage on signals with known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "dsp.h"
#include "master.h"
#include "mp3out.h"

namespace {

// Magnitude of one frequency in a signal (single-bin DFT with a Hann window).
double magnitude_at(const std::vector<double> &x, double hz)
{
    std::complex<double> acc = 0.0;
    const double n = static_cast<double>(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / n);
        acc += x[i] * w * std::polar(1.0, -2.0 * kPi * hz * static_cast<double>(i) / kRate);
    }
    return std::abs(acc) / (n / 4.0);
}

// Stereo buffer with the same signal on both sides.
Mix both(const std::vector<double> &x)
{
    return {x, x};
}

std::vector<double> sine(double hz, double amp, size_t n, double phase = 0.0)
{
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = amp * std::sin(2.0 * kPi * hz * static_cast<double>(i) / kRate + phase);
    return x;
}

} // namespace

TEST(TuneOscillators, PolyBlepSawAliasesFarLessThanANaiveSaw)
{
    // 3 kHz: the 9th harmonic (27 kHz) folds back to 17.1 kHz, the 10th to 14.1 kHz.
    const double f = 3000.0, dt = f / kRate;
    std::vector<double> blep(16384), naive(16384);
    Osc o{0.0};
    double ph = 0.0;
    for (size_t i = 0; i < blep.size(); ++i) {
        blep[i] = oscSaw(o, dt);
        naive[i] = 2.0 * ph - 1.0;
        ph += dt;
        if (ph >= 1.0)
            ph -= 1.0;
    }
    double fund_b = magnitude_at(blep, f), fund_n = magnitude_at(naive, f);
    EXPECT_NEAR(fund_b / fund_n, 1.0, 0.1);
    for (double alias : {17100.0, 14100.0}) {
        double rel_b = 20.0 * std::log10(magnitude_at(blep, alias) / fund_b);
        double rel_n = 20.0 * std::log10(magnitude_at(naive, alias) / fund_n);
        EXPECT_LT(rel_b, rel_n - 10.0) << "alias at " << alias << " Hz";
    }
    // The harmonics that belong there are kept.
    EXPECT_GT(magnitude_at(blep, 2 * f) / fund_b, 0.35);
}

TEST(TuneOscillators, PulseHasNoDcAtAnyWidth)
{
    for (double pw : {0.1, 0.3, 0.5, 0.8}) {
        Osc o{0.0};
        double sum = 0.0;
        const double dt = 110.0 / kRate;
        const size_t n = static_cast<size_t>(std::lround(100.0 / dt)); // 100 whole cycles
        for (size_t i = 0; i < n; ++i)
            sum += oscPulse(o, dt, pw);
        EXPECT_NEAR(sum / static_cast<double>(n), 0.0, 2e-3) << "width " << pw;
    }
}

TEST(TuneEnvelopes, AdsrStartsAndEndsAtZeroWithoutSteps)
{
    const double gate = 0.2, a = 0.01, d = 0.1, s = 0.6, r = 0.05;
    EXPECT_EQ(adsr(0.0, gate, a, d, s, r), 0.0);
    EXPECT_EQ(adsr(-0.001, gate, a, d, s, r), 0.0);
    EXPECT_NEAR(adsr(a, gate, a, d, s, r), 1.0, 1e-9);
    EXPECT_NEAR(adsr(gate + r, gate, a, d, s, r), 0.0, 1e-12);
    EXPECT_EQ(adsr(gate + r + 0.001, gate, a, d, s, r), 0.0);
    // Largest change between neighbouring samples over the whole note stays small.
    double prev = 0.0, worst = 0.0;
    for (int i = 0; i <= static_cast<int>((gate + r) * kRate) + 10; ++i) {
        double v = adsr(i / kRate, gate, a, d, s, r);
        worst = std::max(worst, std::fabs(v - prev));
        prev = v;
    }
    EXPECT_LT(worst, 1.0 / (a * kRate) + 1e-9);
}

TEST(TuneMeter, LoudnessOfReferenceSineAndGating)
{
    // A 997 Hz sine at -20 dBFS on both channels reads -20 LUFS.
    const size_t n = static_cast<size_t>(10 * kRate);
    Mix m = both(sine(997.0, 0.1, n));
    EXPECT_NEAR(integratedLufs(m), -20.0, 0.1);
    // Silence after it is gated out: only the blocks across the edge move the figure.
    Mix padded = m;
    padded.l.insert(padded.l.end(), n, 0.0);
    padded.r.insert(padded.r.end(), n, 0.0);
    EXPECT_NEAR(integratedLufs(padded), integratedLufs(m), 0.1);
    // A passage 30 dB down falls under the relative gate as well.
    Mix quiet = m;
    std::vector<double> soft = sine(997.0, 0.1 * std::pow(10.0, -1.5), n);
    quiet.l.insert(quiet.l.end(), soft.begin(), soft.end());
    quiet.r.insert(quiet.r.end(), soft.begin(), soft.end());
    EXPECT_NEAR(integratedLufs(quiet), -20.0, 0.1);
    // Pure silence is reported at the absolute gate.
    Mix silent = both(std::vector<double>(n, 0.0));
    EXPECT_LE(integratedLufs(silent), -70.0);
}

TEST(TuneMeter, TruePeakSeesBetweenTheSamples)
{
    // A quarter-rate sine offset by 45 degrees: every sample sits at 0.707, the wave at 1.
    Mix m = both(sine(kRate / 4.0, 1.0, 4096, kPi / 4.0));
    double sample_peak = 0.0;
    for (double v : m.l)
        sample_peak = std::max(sample_peak, std::fabs(v));
    EXPECT_NEAR(sample_peak, std::sqrt(0.5), 1e-6);
    EXPECT_NEAR(truePeak(m), 1.0, 0.02);
}

TEST(TuneMaster, HitsLoudnessUnderTheCeilingAndRemovesDc)
{
    // Ten seconds of a quiet sawtooth chord on a DC offset, with loud clicks twice a second.
    const size_t n = static_cast<size_t>(10 * kRate);
    Mix m;
    m.l.resize(n);
    m.r.resize(n);
    Osc a{0.0}, b{0.3};
    for (size_t i = 0; i < n; ++i) {
        double s = 0.1 * oscSaw(a, 110.0 / kRate) + 0.08 * oscSaw(b, 164.8 / kRate) + 0.3;
        if (i % 22050 < 40)
            s += 1.5;
        m.l[i] = s;
        m.r[i] = 0.8 * s;
    }
    MasterReport r = master(m, -14.0, -1.5);
    EXPECT_NEAR(integratedLufs(m), -14.0, 0.1);
    EXPECT_NEAR(r.lufs, -14.0, 0.1);
    EXPECT_LE(20.0 * std::log10(truePeak(m)), -1.5 + 1e-6);
    EXPECT_LT(r.maxReductionDb, 0.0) << "the clicks must have been limited";
    double dc = 0.0;
    for (size_t i = n / 2; i < n; ++i)
        dc += m.l[i];
    EXPECT_NEAR(dc / static_cast<double>(n / 2), 0.0, 1e-3);
    // The 16-bit conversion neither clips nor wraps.
    Pcm16 pcm = toPcm16(m);
    ASSERT_EQ(pcm.frames(), n);
    int worst = 0;
    for (int16_t v : pcm.samples)
        worst = std::max(worst, std::abs(static_cast<int>(v)));
    EXPECT_LT(worst, 32767 * 0.9);
}

TEST(TuneFileParts, TagPadsToTheExactSizeOrRefuses)
{
    std::vector<uint8_t> tag;
    ASSERT_TRUE(makeId3v2Tag("Parkhaus", "Tarvonell", 1000, 5000, tag));
    ASSERT_EQ(tag.size(), 4000u);
    size_t body = (size_t(tag[6]) << 21) | (size_t(tag[7]) << 14) | (size_t(tag[8]) << 7) | tag[9];
    EXPECT_EQ(body + 10, 4000u);
    for (int i = 6; i < 10; ++i)
        EXPECT_EQ(tag[i] & 0x80, 0);
    // Header and two frames take 49 bytes: exactly that fits, one less does not.
    EXPECT_TRUE(makeId3v2Tag("Parkhaus", "Tarvonell", 951, 1000, tag));
    EXPECT_EQ(tag.size(), 49u);
    EXPECT_FALSE(makeId3v2Tag("Parkhaus", "Tarvonell", 952, 1000, tag));
    EXPECT_FALSE(makeId3v2Tag("Parkhaus", "Tarvonell", 2000, 1000, tag));
}

TEST(TuneFileParts, EncoderMakesOnlyConstantRateFrames)
{
    Pcm16 pcm;
    const size_t n = 44100;
    pcm.samples.resize(2 * n);
    for (size_t i = 0; i < n; ++i)
        pcm.samples[2 * i] = pcm.samples[2 * i + 1] =
            static_cast<int16_t>(8000.0 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(i) / kRate));
    std::vector<uint8_t> mp3;
    ASSERT_TRUE(encodeMp3Cbr128(pcm, mp3));
    size_t p = 0, frames = 0;
    while (p + 4 <= mp3.size()) {
        ASSERT_EQ(mp3[p], 0xFF) << "at " << p;
        ASSERT_EQ(mp3[p + 1] & 0xFE, 0xFA) << "MPEG-1 layer III";
        ASSERT_EQ(mp3[p + 2] >> 4, 9) << "128 kbps";
        ASSERT_EQ((mp3[p + 2] >> 2) & 3, 0) << "44.1 kHz";
        p += 417 + ((mp3[p + 2] >> 1) & 1);
        ++frames;
    }
    EXPECT_EQ(p, mp3.size());
    // One second plus the encoder's delay and flush.
    EXPECT_GE(frames, 39u);
    EXPECT_LE(frames, 41u);
    Mix dec;
    ASSERT_TRUE(decodeMp3(mp3, dec));
    EXPECT_GE(dec.l.size(), n);
}
