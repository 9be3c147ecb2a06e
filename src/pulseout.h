// Sound played straight to the desktop's sound server (PulseAudio, or PipeWire through its pulse
// server) by libpulse: unlike SDL, the server then says when a frame written now will be heard,
// which keeps the music on the picture's clock.
#ifndef PARKHAUS_PULSEOUT_H
#define PARKHAUS_PULSEOUT_H

#include <cstddef>
#include <cstdint>

// Fills bytes of 16-bit stereo PCM whose first frame will be heard at heardNs on the steady clock
// (CLOCK_MONOTONIC, nanoseconds); called on the output's own thread, with the output locked.
using PulseFill = void (*)(unsigned char *out, size_t bytes, int64_t heardNs);

// Connects to the server (never starting one) and starts a stream at the rate, buffering
// bufferSeconds, filled by fill from then on; false with nothing left open when there is no server.
bool pulseOutOpen(int rate, double bufferSeconds, PulseFill fill);

// Holds the output thread off while the caller changes what fill reads, and lets it go again.
void pulseOutLock(void);
void pulseOutUnlock(void);

// Stops the stream and lets go of the server; nothing when none is open.
void pulseOutClose(void);

#endif
