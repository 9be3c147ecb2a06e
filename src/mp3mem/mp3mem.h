// An MP3 held whole in memory, read in place by libmpg123 through a replaced reader: the music
// stand-in plays from it, and the tools, benchmarks and tests decode with it.
#ifndef PARKHAUS_MP3MEM_H
#define PARKHAUS_MP3MEM_H

#include <mpg123.h>

#include <cstddef>

// The bytes (not owned, not copied) and the read position within them.
struct Mp3Memory {
  const unsigned char *data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

// Sets the decoder up to read the memory block in place, quietly, with one output format (the
// given rate, stereo, and the encoding: signed 16-bit unless asked otherwise; libmpg123 converts
// to it), and opens it. False when libmpg123 refuses a step; the block must outlive the
// decoder's use of it.
bool mp3memOpen(mpg123_handle *decoder, Mp3Memory *source, long rate, int encoding = MPG123_ENC_SIGNED_16);

#endif
