// The demo's clock: the rate of its music, and the time scales of the picture's motions that the
// tune is written against. The frame, the tune tool, the media tool and the tests read them here.
#ifndef PARKHAUS_TIMELINE_H
#define PARKHAUS_TIMELINE_H

// The rate of the demo's music in sample frames per second: the mix rate the demo asks the sound
// library for, and the rate of every decode, WAV and MP4 of the tune.
constexpr long kMusicRate = 44100;

constexpr double kPi = 3.14159265358979323846;

// The picture's motions are sines of t / scale, with a period of 2 pi x scale seconds:
// the credits bounce up and down (4 pi s),
constexpr double kBounceScale = 2.0;
// sway from side to side and stretch, vanishing while their width factor is negative (8 pi s),
constexpr double kSwayScale = 4.0;
// and tilt (20 pi s); the centre-piece rocks about its vertical axis (40 pi s).
constexpr double kTiltScale = 10.0;
constexpr double kRockScale = 20.0;

// The credits' width factor, 0.3 sin(t / kSwayScale) + 0.2, is lowest, in the middle of a gap,
// first here and then once every sway period.
constexpr double kFirstGapMiddle = 1.5 * kPi * kSwayScale;
constexpr double kGapPeriod = 2.0 * kPi * kSwayScale;
// The centre-piece turns back where its rocking sine peaks: first here, then every half period.
constexpr double kFirstTurn = 0.5 * kPi * kRockScale;
constexpr double kTurnPeriod = kPi * kRockScale;

// The tune's beat: a 24th of the bounce, pi/6 s (114.59 BPM), counted from t = 0, so that the
// bounce is 6 bars of four beats, the sway 12, the tilt 30 and the rocking 60, and every gap's
// middle and every turn falls on a bar line.
constexpr double kBeatSeconds = 2.0 * kPi * kBounceScale / 24.0;

#endif
