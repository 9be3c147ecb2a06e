// The music of a capture: decoding it from the pack, cutting it to the span, writing a WAV.
#include "track.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "datadata.h"
#include "files.h"
#include "mp3decode.h"
#include "refuse.h"
#include "wav.h"
#include "zarelib.h"

// The tune's bytes in the pack linked into the program, found as the demo's music start finds
// them; null when the pack lacks it. They stay valid for the whole run.
static const uint8_t *musicInPack(size_t &size) {
  zare_lib_t *lib = zare_new();
  if (!lib) return nullptr;
  zare_dar_add(lib, (zare_data_t *)dataData);
  zare_memfile_t *mf = zare_memfile_new(lib);
  const bool found = mf && zare_memfile_load(lib, mf, "data/tune.mp3") == 0 && mf->pData && mf->iSize > 0;
  const uint8_t *data = found ? mf->pData : nullptr;
  size = found ? static_cast<size_t>(mf->iSize) : 0;
  // The memory file owns no bytes and the library has no delete for it: it is a plain calloc'd record.
  free(mf);
  zare_delete(lib);
  return data;
}

bool captureLoadMusic(std::vector<int16_t> &pcm, std::string &from, std::string &error) {
  size_t size = 0;
  const uint8_t *data = musicInPack(size);
  Bytes loose;
  if (data) {
    from = "the pack's data/tune.mp3";
  } else if (fileRead("data/tune.mp3", loose)) {
    from = "data/tune.mp3 (the pack has none)";
    data = loose.data();
    size = loose.size();
  } else {
    error = std::string("the pack has no data/tune.mp3, and data/tune.mp3 cannot be read: ") + strerror(errno);
    return false;
  }
  if (!mp3Decode(data, size, pcm, error)) return refuse(error, "cannot decode the music: " + error);
  return true;
}

// The span of the music, padded with silence past its end.
void captureCutSpan(const std::vector<int16_t> &pcm, int64_t first, int64_t count, std::vector<int16_t> &out) {
  out.assign(static_cast<size_t>(count) * 2, 0);
  const int64_t have = static_cast<int64_t>(pcm.size() / 2);
  if (first >= have || count <= 0) return;
  const int64_t n = std::min(count, have - first);
  std::copy_n(pcm.begin() + first * 2, n * 2, out.begin());
}

bool captureWriteWavFile(const std::string &path, const std::vector<int16_t> &stereo, std::string &error) {
  Bytes wav;
  if (!wavEncode(stereo, wav)) return refuse(error, "the span is too long for a WAV file (more than 4 GB)");
  return fileMakeParentDirs(path, error) && fileWrite(path, wav, error);
}
