// Shared pieces of the media generator: pictures in float colour, deterministic noise, palette
// reduction, and writers for exact-length indexed PNG, 32-bit TGA and OIA mesh files.
#ifndef ZMEDIA_MEDIA_H
#define ZMEDIA_MEDIA_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rng.h"

// A colour with components in 0..1 (alpha unused by the RGB pictures).
struct Rgb {
  float r = 0, g = 0, b = 0;
};

// A picture in float colour with straight alpha.
struct Picture {
  int w = 0, h = 0;
  std::vector<Rgb> px;
  std::vector<float> alpha;
};

// An indexed picture: one palette index per pixel, rows from the top.
struct Indexed {
  int w = 0, h = 0;
  std::vector<uint8_t> idx;
  std::vector<std::array<uint8_t, 3>> pal;
};

Picture pictureNew(int w, int h, Rgb fill, float alpha = 1.0f);
Rgb mix(Rgb a, Rgb b, float t);
Rgb rgb8(int r, int g, int b);
float clamp01(float v);
// A 0..1 component as a byte, and a colour as a palette entry, clamped and rounded.
uint8_t toByte(float v);
std::array<uint8_t, 3> toBytes(Rgb c);
float smooth(float e0, float e1, float x);

// Value noise that repeats every `period` lattice cells; fbm adds octaves that keep the period.
float noiseTile(float x, float y, int period, uint32_t seed);
float fbmTile(float x, float y, int period, int octaves, uint32_t seed);

// Reduces a picture to at most `colours` palette entries (median cut, nearest entry per pixel).
Indexed quantize(const Picture &pic, int colours);

// Maps a scalar field (0..1 per pixel) through a ramp of `colours` entries built from the stops.
Indexed rampPicture(int w, int h, const std::vector<float> &field, const std::vector<Rgb> &stops, int colours);

// Writes an 8-bit indexed PNG of exactly `length` bytes: IHDR, PLTE, IDAT chunks of at most
// 8192 bytes, filter 0 on every row, then a tEXt filler if the image data leaves a gap. When
// idatChunks is non-zero the image data must come in exactly that many IDAT chunks. Returns the
// file, or an empty vector when no compression setting reaches the length.
std::vector<uint8_t> pngExact(const Indexed &img, size_t length, int idatChunks = 0);

// The compressed size of the image data at the strongest setting, to steer a picture's detail.
size_t pngIdatSize(const Indexed &img);

// Writes a plain RGB PNG (for the contact sheet).
std::vector<uint8_t> pngRgb(int w, int h, const std::vector<uint8_t> &rgb);

// Writes a picture with its alpha as an RGBA PNG (for the program's icons).
std::vector<uint8_t> pngRgba(const Picture &pic);

// A 32-bit uncompressed TGA; the rows go top row first with both origin fields 0, which the
// demo's loader turns so that the top row lands at t = 1.
std::vector<uint8_t> tga32(const Picture &pic);

// One vertex of a mesh, before it is laid out for its mode.
struct Vertex {
  float s = 0, t = 0;
  float nx = 0, ny = 0, nz = 0;
  float x = 0, y = 0, z = 0;
};

// An OIA file of mode 2, 6 or 14 with the bytes 1, 0 at offset 4.
std::vector<uint8_t> oiaFile(int mode, const std::vector<Vertex> &verts);

// Glyph coverage from FreeType: a w x h coverage map (0..1) of one character.
struct GlyphMap {
  int w = 0, h = 0, left = 0, top = 0, advance = 0;
  std::vector<float> cov;
};
// Opens the font at the given pixel size (x and y separately); false if FreeType fails.
bool fontOpen(const char *path, int pxW, int pxH);
bool fontGlyph(unsigned ch, GlyphMap &g);
void fontClose();
// Draws text with its baseline at (x, y) into a picture, blending colour by coverage.
void fontDraw(Picture &pic, int x, int y, const std::string &text, Rgb colour);
int fontTextWidth(const std::string &text);

// The pictures and meshes; each is a pure function of nothing.
Indexed makeOrgan();
Indexed makeCowEnv();
Indexed makeTexPark();
Indexed makeSuckBack();
Indexed makeSuckFront();
Indexed makeSuckMask();
Indexed makeSuckThing();
Indexed makeSuckThingMask();
Picture makeIcon(int size);
Picture makeCubeTexture();
Picture makeRedLightmap();
Picture makeFont();
std::vector<Vertex> meshCube();
std::vector<Vertex> meshThing();
std::vector<Vertex> meshLogo();
std::vector<Vertex> meshPackTorus();

extern const char *const kFontPath;

// The README's spectrogram of the tune (interleaved stereo samples at 44.1 kHz) as a PNG, with the
// frame's landmarks marked.
std::vector<uint8_t> tuneSpectrogram(const std::vector<int16_t> &stereo);

#endif
