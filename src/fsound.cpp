// The sound stand-in (filled in by the soundtrack work).
#include "fsound.h"

signed char FSOUND_Init(int, int, unsigned int) { return 0; }
FSOUND_STREAM *FSOUND_Stream_OpenFile(const char *, unsigned int, int) { return nullptr; }
int FSOUND_Stream_Play(int, FSOUND_STREAM *) { return 0; }
