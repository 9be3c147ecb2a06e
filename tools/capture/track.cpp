// The music of a capture: decoding it from the pack, cutting it to the span, writing a WAV.
#include "track.h"

#include <algorithm>

#include "datadata.h"
#include "files.h"
#include "mp3decode.h"
#include "refuse.h"
#include "wav.h"
#include "zarelib.h"

bool captureLoadMusic(std::vector<int16_t> &pcm, std::string &error) {
  // The memory file points into the linked pack, which lives as long as the program.
  zare_lib_t *lib = zare_new();
  if (!lib) return refuse(error, "cannot decode the music: out of memory");
  zare_dar_add(lib, (zare_data_t *)dataData);
  zare_memfile_t mf{};
  const bool found = zare_memfile_load(lib, &mf, "data/tune.mp3") == 0 && mf.pData && mf.iSize > 0;
  zare_delete(lib);
  if (!found) return refuse(error, "the pack has no data/tune.mp3");
  if (!mp3Decode(mf.pData, static_cast<size_t>(mf.iSize), pcm, error)) return refuse(error, "cannot decode the music: " + error);
  return true;
}

// The span of the music, padded with silence past its end.
void captureCutSpan(const std::vector<int16_t> &pcm, int64_t first, int64_t count, std::vector<int16_t> &out) {
  out.assign(static_cast<size_t>(count) * 2, 0);
  const int64_t have = static_cast<int64_t>(pcm.size() / 2);
  if (first >= have) return;
  const int64_t n = std::min(count, have - first);
  std::copy_n(pcm.begin() + first * 2, n * 2, out.begin());
}

bool captureWriteWavFile(const std::string &path, const std::vector<int16_t> &stereo, std::string &error) {
  Bytes wav;
  if (!wavEncode(stereo, wav)) return refuse(error, "the span is too long for a WAV file (more than 4 GB)");
  return fileMakeParentDirs(path, error) && fileWrite(path, wav, error);
}
