// Helpers for the sound tests (see soundcheck.h).
#include "soundcheck.h"

#include <lame/lame.h>
#include <mpg123.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

Bytes makeTestMp3(double seconds) {
  const int rate = 44100;
  const int frames = static_cast<int>(seconds * rate);
  std::vector<short> pcm(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    double time = static_cast<double>(i) / rate;
    // Cosine starts at full level, so the first decoded samples are already non-zero.
    pcm[2 * i] = static_cast<short>(12000.0 * std::cos(2.0 * M_PI * 440.0 * time));
    pcm[2 * i + 1] = static_cast<short>(9000.0 * std::cos(2.0 * M_PI * (660.0 + 200.0 * time) * time));
  }
  lame_global_flags *lame = lame_init();
  lame_set_in_samplerate(lame, rate);
  lame_set_out_samplerate(lame, rate);
  lame_set_num_channels(lame, 2);
  lame_set_mode(lame, JOINT_STEREO);
  lame_set_VBR(lame, vbr_off);
  lame_set_brate(lame, 128);
  lame_set_bWriteVbrTag(lame, 1);
  lame_set_quality(lame, 5);
  Bytes mp3;
  if (lame_init_params(lame) < 0) {
    lame_close(lame);
    return mp3;
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(1.25 * frames + 7200));
  int n = lame_encode_buffer_interleaved(lame, pcm.data(), frames, buffer.data(), static_cast<int>(buffer.size()));
  if (n > 0) mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + n);
  n = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
  if (n > 0) mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + n);
  // The info frame was written as a placeholder in front; put the final one in its place.
  unsigned char tag[2880];
  size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
  if (tagSize > 0 && tagSize <= mp3.size()) std::copy(tag, tag + tagSize, mp3.begin());
  lame_close(lame);
  return mp3;
}

Bytes decodeMp3File(const std::string &path) {
  Bytes pcm;
  mpg123_init();
  mpg123_handle *mh = mpg123_new(nullptr, nullptr);
  if (mh == nullptr) return pcm;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (mpg123_open(mh, path.c_str()) == MPG123_OK) {
    unsigned char buffer[16384];
    for (;;) {
      size_t done = 0;
      int result = mpg123_read(mh, buffer, sizeof buffer, &done);
      pcm.insert(pcm.end(), buffer, buffer + done);
      if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
    }
    mpg123_close(mh);
  }
  mpg123_delete(mh);
  return pcm;
}

Bytes decodeMp3Bytes(const Bytes &mp3) {
  char path[] = "/tmp/soundcheck-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  Bytes pcm;
  if (writeFile(path, mp3)) pcm = decodeMp3File(path);
  unlink(path);
  return pcm;
}

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

size_t firstNonZero(const Bytes &bytes, size_t from) {
  for (size_t i = from; i < bytes.size(); ++i) {
    if (bytes[i] != 0) return i;
  }
  return bytes.size();
}

bool allZero(const Bytes &bytes, size_t from, size_t to) {
  for (size_t i = from; i < to && i < bytes.size(); ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

PlayedCheck comparePlayed(const Bytes &output, const Bytes &reference) {
  PlayedCheck check;
  size_t outFirst = firstNonZero(output);
  size_t refFirst = firstNonZero(reference);
  if (outFirst == output.size() || refFirst == reference.size()) {
    check.why = "no audio in the output or the reference";
    return check;
  }
  // The first non-zero byte belongs to the first non-zero sample; align both on it.
  if (outFirst < refFirst) {
    check.why = "the output sounds earlier than the reference can be placed: not the same audio";
    return check;
  }
  check.start = outFirst - refFirst;
  // The device plays whole sample frames of four bytes, so the stream must begin on one.
  if (check.start % 4 != 0) {
    check.why = "played part does not start on a sample frame boundary";
    return check;
  }
  check.foundStart = true;
  size_t i = 0;
  while (i < reference.size() && check.start + i < output.size() && output[check.start + i] == reference[i]) ++i;
  check.matched = i;
  check.silentAfter = allZero(output, check.start + i, output.size());
  if (!check.silentAfter && check.why.empty()) {
    char text[160];
    snprintf(text, sizeof text, "output departs from the reference at PCM byte %zu of %zu and is not silent after it",
             i, reference.size());
    check.why = text;
  }
  return check;
}

bool waitForFileSize(const std::string &path, size_t size, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) >= size) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

Bytes makeTestPng() {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 8;
  image.height = 8;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(8 * 8 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 37);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) return {};
  Bytes png(size);
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), 0, nullptr)) return {};
  png.resize(size);
  return png;
}

// Appends a little-endian unsigned value of the given byte count.
static void putLE(Bytes &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

Bytes makeTestPack(const std::vector<PackFile> &files) {
  Bytes pack = {'Z', 'D', 'A', 'R', 0, 0, 0, 0};
  std::vector<uint32_t> entryOffsets;
  for (const auto &file : files) {
    entryOffsets.push_back(static_cast<uint32_t>(pack.size()));
    pack.insert(pack.end(), {'D', 'A', 'T'});
    putLE(pack, static_cast<uint32_t>(file.declaredSize >= 0 ? file.declaredSize : static_cast<long>(file.data.size())), 4);
    pack.insert(pack.end(), file.data.begin(), file.data.end());
  }
  uint32_t dirOffset = static_cast<uint32_t>(pack.size());
  pack.insert(pack.end(), {'D', 'I', 'R'});
  putLE(pack, static_cast<uint32_t>(files.size()), 2);
  Bytes names;
  for (size_t i = 0; i < files.size(); ++i) {
    putLE(pack, entryOffsets[i], 4);
    putLE(pack, static_cast<uint32_t>(names.size()), 2);
    names.insert(names.end(), files[i].name.begin(), files[i].name.end());
    names.push_back(0);
  }
  pack.insert(pack.end(), names.begin(), names.end());
  pack.insert(pack.end(), {'E', 'N', 'D'});
  putLE(pack, dirOffset, 4);
  uint32_t total = static_cast<uint32_t>(pack.size());
  for (int i = 0; i < 4; ++i) pack[4 + i] = static_cast<unsigned char>(total >> (8 * i));
  return pack;
}
