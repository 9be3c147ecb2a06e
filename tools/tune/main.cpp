// tune: composes, renders, masters and encodes the demo's soundtrack.
//   tune OUT.mp3 [--wav OUT.wav] [--placeholder]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "mp3out.h"

static constexpr size_t kFileSize = 2340864;
static constexpr size_t kFrames = 6440000; // samples per channel

// A quiet, slowly fading A-minor chord: a stand-in until the real piece renders.
static Pcm16 render_placeholder()
{
    Pcm16 pcm;
    pcm.samples.resize(kFrames * 2);
    const double freqs[3] = {220.0, 261.6255653005986, 329.6275569128699};
    for (size_t i = 0; i < kFrames; ++i) {
        double t = static_cast<double>(i) / 44100.0;
        double env = std::min(1.0, t / 2.0) * (1.0 - static_cast<double>(i) / kFrames);
        double s = 0;
        for (double f : freqs)
            s += std::sin(2.0 * M_PI * f * t);
        int16_t v = static_cast<int16_t>(std::lround(s * env * 3000.0));
        pcm.samples[2 * i] = v;
        pcm.samples[2 * i + 1] = v;
    }
    return pcm;
}

int main(int argc, char **argv)
{
    std::string out, wav;
    bool placeholder = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--wav") && i + 1 < argc)
            wav = argv[++i];
        else if (!std::strcmp(argv[i], "--placeholder"))
            placeholder = true;
        else if (argv[i][0] != '-' && out.empty())
            out = argv[i];
        else {
            std::fprintf(stderr, "usage: tune OUT.mp3 [--wav OUT.wav] [--placeholder]\n");
            return 2;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: tune OUT.mp3 [--wav OUT.wav] [--placeholder]\n");
        return 2;
    }
    Pcm16 pcm = render_placeholder();
    (void)placeholder;
    if (!wav.empty() && !write_wav(wav, pcm)) {
        std::fprintf(stderr, "tune: cannot write %s\n", wav.c_str());
        return 1;
    }
    std::vector<uint8_t> mp3, tag;
    if (!encode_mp3_cbr128(pcm, mp3)) {
        std::fprintf(stderr, "tune: encoder failed\n");
        return 1;
    }
    if (!make_id3v2_tag("Parkhaus", "Tarvonell", mp3.size(), kFileSize, tag)) {
        std::fprintf(stderr, "tune: %zu bytes of audio leave no room for the tag\n", mp3.size());
        return 1;
    }
    tag.insert(tag.end(), mp3.begin(), mp3.end());
    if (!write_file(out, tag)) {
        std::fprintf(stderr, "tune: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("tune: %zu bytes of audio, %zu of tag, %zu total\n", mp3.size(), kFileSize - mp3.size(), tag.size());
    return 0;
}
