// Checks data/tune.mp3 as a player and the pack see it: the ID3v2 tag, the exact size,
// plain 128 kbps CBR frames from the tag to the last byte, the duration, the mastering,
// and that the tool regenerates the very same bytes.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kFileSize = 2340864;
const char *kTune = "data/tune.mp3";

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The parts of an ID3v2 tag the file must have.
struct Tag {
    bool ok = false;
    size_t total = 0; // header + body
    std::string title, artist;
    bool padding_zero = false;
};

Tag parse_id3v2(std::span<const uint8_t> d)
{
    Tag t;
    if (d.size() < 10 || std::memcmp(d.data(), "ID3", 3) != 0 || d[3] != 3 || d[4] != 0 || d[5] != 0)
        return t;
    for (int i = 6; i < 10; ++i)
        if (d[i] & 0x80)
            return t;
    size_t body = (size_t(d[6]) << 21) | (size_t(d[7]) << 14) | (size_t(d[8]) << 7) | size_t(d[9]);
    t.total = 10 + body;
    if (t.total > d.size())
        return t;
    size_t p = 10;
    while (p + 10 <= t.total && d[p] != 0) {
        std::string id(reinterpret_cast<const char *>(&d[p]), 4);
        size_t sz = (size_t(d[p + 4]) << 24) | (size_t(d[p + 5]) << 16) | (size_t(d[p + 6]) << 8) | size_t(d[p + 7]);
        if (p + 10 + sz > t.total || sz == 0)
            return t;
        std::string text(reinterpret_cast<const char *>(&d[p + 11]), sz - 1); // after the encoding byte
        if (d[p + 10] != 0)
            return t;
        if (id == "TIT2")
            t.title = text;
        else if (id == "TPE1")
            t.artist = text;
        p += 10 + sz;
    }
    t.padding_zero = true;
    for (; p < t.total; ++p)
        if (d[p] != 0)
            t.padding_zero = false;
    t.ok = true;
    return t;
}

// Walk of the MPEG audio frames after the tag.
struct Frames {
    size_t count = 0;
    bool bad = false;  // a header that is not MPEG-1 layer III, 128 kbps, 44.1 kHz was met
    size_t bad_at = 0; // ... at this offset
    size_t end = 0;    // where the walk stopped
    bool info_frame = false;
};

Frames walk_frames(std::span<const uint8_t> d, size_t start)
{
    Frames f;
    size_t p = start;
    while (p + 4 <= d.size()) {
        uint32_t h = (uint32_t(d[p]) << 24) | (uint32_t(d[p + 1]) << 16) | (uint32_t(d[p + 2]) << 8) | d[p + 3];
        bool sync = (h >> 21) == 0x7ff;
        unsigned version = (h >> 19) & 3, layer = (h >> 17) & 3, rate = (h >> 12) & 15, freq = (h >> 10) & 3;
        if (!sync || version != 3 || layer != 1 || rate != 9 || freq != 0) {
            f.bad = true;
            f.bad_at = p;
            break;
        }
        size_t len = 144 * 128000 / 44100 + ((h >> 9) & 1);
        if (f.count == 0) {
            // A Xing/Info header sits in the first frame right after the side information
            // (32 bytes for stereo, 17 for mono; 2 more when the frame carries a CRC).
            size_t side = ((h >> 6) & 3) == 3 ? 17 : 32;
            size_t at = p + 4 + side + (((h >> 16) & 1) ? 0 : 2);
            if (at + 4 <= d.size())
                f.info_frame = std::memcmp(&d[at], "Xing", 4) == 0 || std::memcmp(&d[at], "Info", 4) == 0;
        }
        p += len;
        ++f.count;
    }
    f.end = p;
    return f;
}

// Decodes with libmpg123 to interleaved float stereo.
std::vector<float> decode(const std::vector<uint8_t> &d)
{
    std::vector<float> pcm;
    int err = 0;
    mpg123_handle *mh = mpg123_new(nullptr, &err);
    if (!mh)
        return pcm;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(mh);
    mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    mpg123_open_feed(mh);
    mpg123_feed(mh, d.data(), d.size());
    std::vector<float> buf(1152 * 2 * 4);
    for (;;) {
        size_t done = 0;
        int rc = mpg123_read(mh, buf.data(), buf.size() * sizeof(float), &done);
        pcm.insert(pcm.end(), buf.begin(), buf.begin() + static_cast<long>(done / sizeof(float)));
        if (rc == MPG123_NEW_FORMAT || (rc == MPG123_OK && done > 0))
            continue;
        break;
    }
    mpg123_delete(mh);
    return pcm;
}

// RMS in dBFS of both channels between two times in seconds.
double rms_db(const std::vector<float> &pcm, double from, double to)
{
    size_t a = static_cast<size_t>(from * 44100) * 2, b = std::min(pcm.size(), static_cast<size_t>(to * 44100) * 2);
    double sum = 0.0;
    for (size_t i = a; i < b; ++i)
        sum += double(pcm[i]) * pcm[i];
    return b > a ? 10.0 * std::log10(sum / double(b - a) + 1e-20) : -200.0;
}

// Runs a command and returns what it printed (both streams).
std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// The number after the last occurrence of key in text, NaN if absent.
double figure_after(const std::string &text, const std::string &key)
{
    size_t p = text.rfind(key);
    if (p == std::string::npos)
        return std::nan("");
    return std::strtod(text.c_str() + p + key.size(), nullptr);
}

} // namespace

// Three crafted frames: 128 kbps, 44.1 kHz, joint stereo, the middle one padded.
std::vector<uint8_t> crafted_frames()
{
    std::vector<uint8_t> d;
    for (int k = 0; k < 3; ++k) {
        bool pad = k == 1;
        std::vector<uint8_t> fr(417 + (pad ? 1 : 0), 0);
        fr[0] = 0xFF;
        fr[1] = 0xFB;
        fr[2] = static_cast<uint8_t>(0x90 | (pad ? 2 : 0));
        fr[3] = 0x40;
        d.insert(d.end(), fr.begin(), fr.end());
    }
    return d;
}

TEST(TuneScan, WalksCbrFramesAndFindsWhatDoesNotBelong)
{
    std::vector<uint8_t> d = crafted_frames();
    Frames f = walk_frames(d, 0);
    EXPECT_FALSE(f.bad);
    EXPECT_EQ(f.count, 3u);
    EXPECT_EQ(f.end, d.size());
    EXPECT_FALSE(f.info_frame);
    // An Info header after the 32 bytes of stereo side information.
    std::vector<uint8_t> info = d;
    std::memcpy(&info[36], "Info", 4);
    EXPECT_TRUE(walk_frames(info, 0).info_frame);
    // A 160 kbps frame in the middle.
    std::vector<uint8_t> vbr = d;
    vbr[417 + 2] = 0xA2;
    Frames g = walk_frames(vbr, 0);
    EXPECT_TRUE(g.bad);
    EXPECT_EQ(g.bad_at, 417u);
    // Stray bytes at the end stop the walk short of the end.
    std::vector<uint8_t> tail = d;
    tail.insert(tail.end(), {'T', 'A', 'G', 0});
    Frames h = walk_frames(tail, 0);
    EXPECT_TRUE(h.bad);
    EXPECT_EQ(h.bad_at, d.size());
}

TEST(TuneScan, ReadsTheTagAndRejectsBrokenOnes)
{
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 40};
    auto frame = [&](const char *id, std::string_view text) {
        uint32_t sz = static_cast<uint32_t>(text.size() + 1);
        tag.insert(tag.end(), id, id + 4);
        tag.insert(tag.end(), {uint8_t(sz >> 24), uint8_t(sz >> 16), uint8_t(sz >> 8), uint8_t(sz), 0, 0, 0});
        tag.insert(tag.end(), text.begin(), text.end());
    };
    frame("TIT2", "Parkhaus");
    frame("TPE1", "Tarvonell");
    tag.resize(50, 0);
    Tag t = parse_id3v2(tag);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.total, 50u);
    EXPECT_EQ(t.title, "Parkhaus");
    EXPECT_EQ(t.artist, "Tarvonell");
    EXPECT_TRUE(t.padding_zero);
    std::vector<uint8_t> dirty = tag;
    dirty[49] = 1;
    EXPECT_FALSE(parse_id3v2(dirty).padding_zero);
    std::vector<uint8_t> not_syncsafe = tag;
    not_syncsafe[9] = 0x80;
    EXPECT_FALSE(parse_id3v2(not_syncsafe).ok);
    std::vector<uint8_t> too_long = tag;
    too_long[9] = 41; // claims one byte more than there is
    EXPECT_FALSE(parse_id3v2(too_long).ok);
}

TEST(TuneFile, TagSizeAndFrames)
{
    std::vector<uint8_t> d = read_file(kTune);
    ASSERT_EQ(d.size(), kFileSize);
    Tag t = parse_id3v2(d);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.title, "Parkhaus");
    EXPECT_EQ(t.artist, "Tarvonell");
    EXPECT_TRUE(t.padding_zero);
    Frames f = walk_frames(d, t.total);
    EXPECT_FALSE(f.bad) << "not a 128 kbps MPEG-1 layer III 44.1 kHz frame at " << f.bad_at;
    EXPECT_EQ(f.end, d.size()) << "frames do not end exactly at the end of the file";
    EXPECT_FALSE(f.info_frame);
    // No ID3v1 tag at the end.
    EXPECT_NE(std::memcmp(&d[d.size() - 128], "TAG", 3), 0);
    // About 146 seconds: the most the fixed size holds.
    double seconds = double(f.count) * 1152.0 / 44100.0;
    EXPECT_GT(seconds, 145.0);
    EXPECT_LT(seconds, 147.0);
}

TEST(TuneFile, DecodesWithSectionsAndSilentEnd)
{
    std::vector<uint8_t> d = read_file(kTune);
    ASSERT_EQ(d.size(), kFileSize);
    std::vector<float> pcm = decode(d);
    double seconds = double(pcm.size()) / 2.0 / 44100.0;
    ASSERT_GT(seconds, 145.0);
    double peak = 0.0, dc_l = 0.0, dc_r = 0.0;
    for (size_t i = 0; i < pcm.size(); i += 2) {
        peak = std::max({peak, double(std::fabs(pcm[i])), double(std::fabs(pcm[i + 1]))});
        dc_l += pcm[i];
        dc_r += pcm[i + 1];
    }
    EXPECT_LT(20.0 * std::log10(peak), -1.0) << "sample peak too high";
    EXPECT_LT(std::fabs(dc_l / (pcm.size() / 2)), 1e-3);
    EXPECT_LT(std::fabs(dc_r / (pcm.size() / 2)), 1e-3);
    // One bar at 126 BPM is 1.9048 s: intro 8 bars, build 8, theme 16, break 12, return 20, outro 12.
    const double bar = 84000.0 / 44100.0;
    double intro = rms_db(pcm, 0, 8 * bar), theme = rms_db(pcm, 16 * bar, 32 * bar);
    double brk = rms_db(pcm, 32 * bar, 42 * bar), ret = rms_db(pcm, 44 * bar, 64 * bar);
    EXPECT_LT(intro, theme - 3.0);
    EXPECT_LT(brk, theme);
    EXPECT_GT(ret, brk);
    EXPECT_GT(theme, -20.0);
    // It decays to silence.
    EXPECT_LT(rms_db(pcm, seconds - 0.5, seconds), -70.0);
    EXPECT_LT(rms_db(pcm, seconds - 2.5, seconds - 1.5), ret - 15.0);
}

TEST(TuneFile, LoudnessAndTruePeakByEbur128)
{
    std::string out = run("ffmpeg -hide_banner -nostats -i " + std::string(kTune) + " -af ebur128=peak=true -f null -");
    double lufs = figure_after(out, "I:"), peak = figure_after(out, "Peak:");
    ASSERT_FALSE(std::isnan(lufs)) << "ffmpeg gave no loudness figure:\n" << out;
    ASSERT_FALSE(std::isnan(peak));
    EXPECT_NEAR(lufs, -14.0, 0.5);
    EXPECT_LE(peak, -1.0);
}

TEST(TuneRegenerate, ToolRemakesTheCommittedFileByteForByte)
{
    std::string out = testing::TempDir() + "tune-regen.mp3";
    std::remove(out.c_str());
    std::string log = run(std::string(TUNE_TOOL) + " " + out);
    std::vector<uint8_t> made = read_file(out), committed = read_file(kTune);
    ASSERT_EQ(made.size(), kFileSize) << log;
    ASSERT_EQ(committed.size(), kFileSize);
    size_t first_diff = 0;
    while (first_diff < made.size() && made[first_diff] == committed[first_diff])
        ++first_diff;
    EXPECT_EQ(first_diff, made.size()) << "first differing byte at " << first_diff;
    std::remove(out.c_str());
}
