// The one PNG writer and the reader of PNG frames, on top of libpng.
#include "pngwrite.h"

#include <png.h>

// libpng's write callback into a byte vector.
static void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// libpng's flush callback: nothing to flush in memory.
static void noFlush(png_structp) {}

size_t pngBytesPerPixel(PngPixels pixels) {
  switch (pixels) {
  case PngPixels::Indexed: return 1;
  case PngPixels::Rgb: return 3;
  case PngPixels::Rgba:
  case PngPixels::Bgrx: return 4;
  }
  return 1;
}

// The header, palette and pixel transforms for the layout.
static void describeImage(png_structp png, png_infop info, const PngSpec &spec, std::vector<png_color> &palette) {
  const int colour = spec.pixels == PngPixels::Indexed ? PNG_COLOR_TYPE_PALETTE
                     : spec.pixels == PngPixels::Rgba  ? PNG_COLOR_TYPE_RGB_ALPHA
                                                       : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, png_uint_32(spec.width), png_uint_32(spec.height), 8, colour, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  if (spec.pixels == PngPixels::Indexed) {
    for (const auto &c : spec.palette) palette.push_back({c[0], c[1], c[2]});
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
  }
  png_write_info(png, info);
  if (spec.pixels == PngPixels::Bgrx) {
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
  }
}

// The libpng part; kept free of objects with destructors because libpng leaves by longjmp.
static bool encode(const PngSpec &spec, const uint8_t *const *rows, Bytes &out, std::vector<png_color> &palette) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, appendToBytes, noFlush);
  png_set_compression_buffer_size(png, spec.idatSize);
  png_set_compression_level(png, spec.level);
  png_set_compression_strategy(png, spec.strategy);
  png_set_compression_mem_level(png, spec.memLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  describeImage(png, info, spec, palette);
  for (int y = 0; y < spec.height; y++) png_write_row(png, const_cast<png_bytep>(rows[y]));
  if (!spec.text.empty()) {
    png_byte name[5] = {'t', 'E', 'X', 't', 0};
    png_write_chunk(png, name, spec.text.data(), spec.text.size());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool pngEncodeRows(const PngSpec &spec, const uint8_t *const *rows, Bytes &out) {
  out.clear();
  std::vector<png_color> palette;
  if (!encode(spec, rows, out, palette)) {
    out.clear();
    return false;
  }
  return true;
}

Bytes pngEncode(const PngSpec &spec, const uint8_t *pixels) {
  const size_t stride = size_t(spec.width) * pngBytesPerPixel(spec.pixels);
  std::vector<const uint8_t *> rows(size_t(spec.height));
  for (size_t y = 0; y < rows.size(); y++) rows[y] = pixels + stride * y;
  Bytes out;
  pngEncodeRows(spec, rows.data(), out);
  return out;
}

bool pngReadFile(const std::string &path, bool alpha, bool bottomUp, Bytes &out, int &width, int &height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  out.clear();
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  width = int(image.width), height = int(image.height);
  out.resize(PNG_IMAGE_SIZE(image));
  const png_int_32 stride = png_int_32(PNG_IMAGE_ROW_STRIDE(image));
  if (png_image_finish_read(&image, nullptr, out.data(), bottomUp ? -stride : stride, nullptr)) return true;
  out.clear();
  return false;
}
