// Our stand-in for the stream-playing sound library: MP3 from memory, decoded by libmpg123, played by SDL2.
#ifndef PARKHAUS_FSOUND_H
#define PARKHAUS_FSOUND_H

constexpr unsigned int FSOUND_NORMAL = 0x0130;
constexpr unsigned int FSOUND_LOADMEMORY = 0x8000;

struct FSOUND_STREAM;

signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);
FSOUND_STREAM *FSOUND_Stream_OpenFile(const char *data, unsigned int mode, int length);
int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream);

#endif
