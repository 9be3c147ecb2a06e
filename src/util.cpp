// Mesh (OIA) and image (TGA, PNG from the pack) loading, and the OpenGL textures made from them.
#include "util.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

// The OIA mesh file: a 10-byte header, then the vertex array exactly as GL's interleaved format
// takes it. The count is big-endian; the vertex floats are little-endian.
//
//   offset  size  field
//        0     4  magic "ZoIA"
//        4     2  not examined
//        6     1  extended mode; must be 0
//        7     1  mode: 2 (GL_V3F), 6 (GL_N3F_V3F) or 14 (GL_T2F_N3F_V3F)
//        8     2  vertex count, most significant byte first
//       10     -  count x stride bytes of 32-bit floats in the mode's order; every three vertices
//                 make one triangle, and anything after them is not read
static constexpr size_t kOiaHeaderSize = 10;
static constexpr size_t kOiaExtendedAt = 6;
static constexpr size_t kOiaModeAt = 7;
static constexpr size_t kOiaCountAt = 8;

// The TGA image file in the one form the loader takes: an 18-byte header, the image ID, then
// width x height pixels of blue, green, red, alpha, row after row. Fields are little-endian.
//
//   offset  size  field
//        0     1  ID length: bytes of image ID after the header, skipped
//        1     1  colour map type; must be 0
//        2     1  image type; must be 2 (uncompressed true colour)
//        3     5  colour map specification, not examined
//        8     2  X origin: non-zero mirrors every row
//       10     2  Y origin: zero reverses the order of the rows
//       12     2  width
//       14     2  height
//       16     1  pixel depth; must be 32
//       17     1  image descriptor, not examined
static constexpr size_t kTgaHeaderSize = 18;
static constexpr size_t kTgaIdLengthAt = 0;
static constexpr size_t kTgaColourMapAt = 1;
static constexpr size_t kTgaImageTypeAt = 2;
static constexpr size_t kTgaXOriginAt = 8;
static constexpr size_t kTgaYOriginAt = 10;
static constexpr size_t kTgaWidthAt = 12;
static constexpr size_t kTgaHeightAt = 14;
static constexpr size_t kTgaDepthAt = 16;

// Closes a loader's file; held by a unique_ptr so every way out of a loader closes it.
static void closeFile(FILE *f) { fclose(f); }
using FileHandle = std::unique_ptr<FILE, void (*)(FILE *)>;

// Bytes left in the file from the current position, or -1 when the file cannot seek.
static long bytesLeft(FILE *f) {
  long here = ftell(f);
  if (here < 0 || fseek(f, 0, SEEK_END) != 0) return -1;
  long end = ftell(f);
  if (end < 0 || fseek(f, here, SEEK_SET) != 0) return -1;
  return end - here;
}

// Reads exactly n bytes; false when the file ends first.
static bool readExactly(FILE *f, void *dst, size_t n) {
  return n == 0 || fread(dst, 1, n, f) == n;
}

// Swaps each 32-bit word on a big-endian host, so the file's little-endian floats read right.
static void floatsToHost(void *data, size_t bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  auto *p = static_cast<unsigned char *>(data);
  for (size_t i = 0; i + 4 <= bytes; i += 4) {
    std::swap(p[i], p[i + 3]);
    std::swap(p[i + 1], p[i + 2]);
  }
#else
  (void)data;
  (void)bytes;
#endif
}

// Reads a loader's body of the given size into a new buffer; null, with the loader's message,
// when memory runs out or the file ends early. kind names the format in the message.
static void *readBody(FILE *f, size_t bytes, const char *kind, const char *path) {
  void *data = malloc(bytes ? bytes : 1);
  if (!data) {
    printf("Out of memory loading >>%s<<!\n", path);
    return nullptr;
  }
  if (!readExactly(f, data, bytes)) {
    free(data);
    printf("%s file >>%s<< is truncated!\n", kind, path);
    return nullptr;
  }
  return data;
}

// Loads an OIA mesh from disk; null (with one line of explanation) when it cannot be used.
util_oia_t *util_oiaLoad(const char *path) {
  FILE *raw = fopen(path, "rb");
  if (!raw) {
    perror("Error while opening OIA: ");
    return nullptr;
  }
  FileHandle file(raw, closeFile);

  std::array<unsigned char, kOiaHeaderSize> header{};
  if (!readExactly(raw, header.data(), header.size())) {
    printf("OIA file >>%s<< is truncated!\n", path);
    return nullptr;
  }
  if (memcmp(header.data(), "ZoIA", 4) != 0) {
    printf("Not >>%s<< is not an oia file!\n", path);
    return nullptr;
  }
  if (header[kOiaExtendedAt] != 0) {
    printf("Extended modes not supported!\n");
    return nullptr;
  }
  GLenum format;
  GLint stride;
  switch (header[kOiaModeAt]) {
  case 2:
    format = GL_V3F;
    stride = 12;
    break;
  case 6:
    format = GL_N3F_V3F;
    stride = 24;
    break;
  case 14:
    format = GL_T2F_N3F_V3F;
    stride = 32;
    break;
  default:
    printf("Mode %02x not supported!\n", header[kOiaModeAt]);
    return nullptr;
  }
  GLint count = header[kOiaCountAt] * 256 + header[kOiaCountAt + 1];
  size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(stride);

  // The header's claim is checked against the file before anything is allocated.
  long left = bytesLeft(raw);
  if (left >= 0 && static_cast<unsigned long>(left) < bytes) {
    printf("OIA file >>%s<< is truncated!\n", path);
    return nullptr;
  }

  void *data = readBody(raw, bytes, "OIA", path);
  auto *mesh = data ? static_cast<util_oia_t *>(malloc(sizeof(util_oia_t))) : nullptr;
  if (!mesh) {
    if (data) printf("Out of memory loading >>%s<<!\n", path);
    free(data);
    return nullptr;
  }
  floatsToHost(data, bytes);
  mesh->format = format;
  mesh->stride = stride;
  mesh->primitive = GL_TRIANGLES;
  mesh->count = count;
  mesh->data = data;
  return mesh;
}

// Draws each vertex's normal as a line from its position, for meshes that carry normals only.
void util_oiaDrawNormals(util_oia_t *mesh) {
  if (!mesh || mesh->format != GL_N3F_V3F || !mesh->data) return;
  const auto *bytes = static_cast<const unsigned char *>(mesh->data);
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glColor4f(0.7f, 0.3f, 0.3f, 0.8f);
  glBegin(GL_LINES);
  for (GLint i = mesh->count - 1; i >= 0; --i) {
    std::array<float, 6> v;
    memcpy(v.data(), bytes + static_cast<size_t>(i) * 6 * sizeof(float), sizeof(v));
    const float p[3] = {v[3], v[4], v[5]};
    const float tip[3] = {v[3] + v[0], v[4] + v[1], v[5] + v[2]};
    glVertex3fv(p);
    glVertex3fv(tip);
  }
  glEnd();
  glPopAttrib();
}

// Little-endian 16-bit field of a header.
static unsigned le16(std::span<const unsigned char> h, size_t at) {
  return static_cast<unsigned>(h[at]) | (static_cast<unsigned>(h[at + 1]) << 8);
}

// Turns a TGA's blue, green, red, alpha pixels into red, green, blue, alpha, in the order the
// origin fields ask for: a zero Y origin means bottom row first, a non-zero X origin mirrored rows.
static void orientPixels(unsigned char *data, int width, int height, unsigned xOrigin, unsigned yOrigin) {
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  for (size_t i = 0; i < rowBytes * static_cast<size_t>(height); i += 4) std::swap(data[i], data[i + 2]);
  for (int r = 0; yOrigin == 0 && r < height / 2; ++r) {
    unsigned char *a = data + static_cast<size_t>(r) * rowBytes;
    std::swap_ranges(a, a + rowBytes, data + static_cast<size_t>(height - 1 - r) * rowBytes);
  }
  for (int r = 0; xOrigin != 0 && r < height; ++r) {
    unsigned char *row = data + static_cast<size_t>(r) * rowBytes;
    for (int x = 0; x < width / 2; ++x) {
      std::swap_ranges(row + static_cast<size_t>(x) * 4, row + static_cast<size_t>(x) * 4 + 4,
                       row + static_cast<size_t>(width - 1 - x) * 4);
    }
  }
}

// Decodes an uncompressed 32-bit true-colour TGA into red, green, blue, alpha rows; null if refused.
util_image_t *util_imageFromTGA(const char *path) {
  FILE *raw = fopen(path, "rb");
  if (!raw) return nullptr;
  FileHandle file(raw, closeFile);

  std::array<unsigned char, kTgaHeaderSize> header{};
  if (!readExactly(raw, header.data(), header.size())) {
    printf("TGA file >>%s<< is truncated!\n", path);
    return nullptr;
  }
  if (header[kTgaImageTypeAt] != 2) {
    printf("Only mode 2 (unmapped, uncompressed) supported\n");
    return nullptr;
  }
  if (header[kTgaColourMapAt] != 0) {
    printf("Paletted images not supported!\n");
    return nullptr;
  }
  if (header[kTgaDepthAt] != 32) {
    printf("Only 32bpp (RGBA) images supported!\n");
    return nullptr;
  }
  const size_t idLength = header[kTgaIdLengthAt];
  const unsigned xOrigin = le16(header, kTgaXOriginAt);
  const unsigned yOrigin = le16(header, kTgaYOriginAt);
  const int width = static_cast<int>(le16(header, kTgaWidthAt));
  const int height = static_cast<int>(le16(header, kTgaHeightAt));
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  const size_t bytes = rowBytes * static_cast<size_t>(height);

  // The header's claim (image ID and pixels) is checked against the file before allocating.
  long left = bytesLeft(raw);
  if (left >= 0 && static_cast<unsigned long>(left) < idLength + bytes) {
    printf("TGA file >>%s<< is truncated!\n", path);
    return nullptr;
  }
  std::array<unsigned char, 255> id;
  if (!readExactly(raw, id.data(), idLength)) {
    printf("TGA file >>%s<< is truncated!\n", path);
    return nullptr;
  }

  auto *data = static_cast<unsigned char *>(readBody(raw, bytes, "TGA", path));
  auto *image = data ? static_cast<util_image_t *>(malloc(sizeof(util_image_t))) : nullptr;
  if (!image) {
    if (data) printf("Out of memory loading >>%s<<!\n", path);
    free(data);
    return nullptr;
  }
  orientPixels(data, width, height, xOrigin, yOrigin);
  image->width = width;
  image->height = height;
  image->data = data;
  return image;
}

// Creates a texture name, binds it and sets linear filtering, as every texture maker does.
static GLuint newBoundTexture(void) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return name;
}

// Makes a four-component texture from a TGA file; on failure the variable and GL stay untouched.
void util_textureFromTGA(GLuint *texName, const char *path) {
  util_image_t *image = util_imageFromTGA(path);
  if (!image) return;
  *texName = newBoundTexture();
  glTexImage2D(GL_TEXTURE_2D, 0, 4, image->width, image->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               image->data);
  free(image->data);
  free(image);
}

// Expands palette indices to red, green, blue and the given alpha per pixel; alpha may be null (255).
static void expandIndexed(const zare_image_t *image, const unsigned char *alpha, unsigned char *out) {
  const size_t pixels = static_cast<size_t>(image->width) * image->height;
  const uint16_t *pal = image->palette->data;
  for (size_t i = 0; i < pixels; ++i) {
    const size_t k = image->data[i];
    out[4 * i + 0] = static_cast<unsigned char>(pal[3 * k + 0] & 0xff);
    out[4 * i + 1] = static_cast<unsigned char>(pal[3 * k + 1] & 0xff);
    out[4 * i + 2] = static_cast<unsigned char>(pal[3 * k + 2] & 0xff);
    out[4 * i + 3] = alpha ? static_cast<unsigned char>(255 - alpha[i]) : 255;
  }
}

// Whether a decoded image can be expanded: it has a palette and pixels for its whole size.
static bool usableIndexed(const zare_image_t *image) {
  return image->palette && (image->data || image->width == 0 || image->height == 0);
}

// Uploads an expanded colour image (with its mask's alpha if given) and returns the new texture name.
static GLuint uploadIndexed(const zare_image_t *colour, const zare_image_t *mask) {
  const size_t pixels = static_cast<size_t>(colour->width) * colour->height;
  auto *buffer = static_cast<unsigned char *>(malloc(pixels ? pixels * 4 : 1));
  if (!buffer) {
    printf("Error loading texture\n");
    return 0;
  }
  expandIndexed(colour, mask ? mask->data : nullptr, buffer);
  GLuint name = newBoundTexture();
  glTexImage2D(GL_TEXTURE_2D, 0, mask ? 4 : 3, colour->width, colour->height, 0, GL_RGBA,
               GL_UNSIGNED_BYTE, buffer);
  free(buffer);
  return name;
}

// Makes a three-component texture from an indexed PNG of the pack; 0 when it cannot be decoded.
GLuint util_textureFromPNG(zare_lib_t *lib, const char *name) {
  zare_image_t *image = zare_imageFromPNG(lib, name);
  if (!image || !usableIndexed(image)) {
    zare_image_delete(lib, &image);
    printf("Error loading texture\n");
    return 0;
  }
  GLuint tex = uploadIndexed(image, nullptr);
  zare_image_delete(lib, &image);
  return tex;
}

// Makes a texture from a colour PNG whose alpha is 255 minus the mask PNG's index at each pixel.
GLuint util_textureFromPNGWithMask(zare_lib_t *lib, const char *name, const char *maskName) {
  zare_image_t *colour = zare_imageFromPNG(lib, name);
  if (!colour || !usableIndexed(colour)) {
    zare_image_delete(lib, &colour);
    printf("Error loading texture\n");
    return 0;
  }
  zare_image_t *mask = zare_imageFromPNG(lib, maskName);
  const size_t pixels = static_cast<size_t>(colour->width) * colour->height;
  if (!mask || static_cast<size_t>(mask->width) * mask->height < pixels ||
      (pixels && !mask->data)) {
    zare_image_delete(lib, &mask);
    zare_image_delete(lib, &colour);
    printf("Error loading texture\n");
    return 0;
  }
  GLuint tex = uploadIndexed(colour, mask);
  zare_image_delete(lib, &mask);
  zare_image_delete(lib, &colour);
  return tex;
}
