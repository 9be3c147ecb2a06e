// The pack format: writing a pack from named files, and reading one back with every field checked.
#include "packfmt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bytes.h"
#include "packlayout.h"

// Appends a tag or the magic, all of its bytes.
template <size_t N>
static void putTag(std::vector<uint8_t> &out, const char (&tag)[N]) {
  out.insert(out.end(), tag, tag + N);
}

bool packWrite(const std::vector<PackInput> &files, std::vector<uint8_t> &out, std::string &err) {
  out.clear();
  if (files.size() > 0xffff) {
    err = "too many files for the directory (at most 65535)";
    return false;
  }
  // The readers take the total length as a signed 32-bit value, so stay below 2 GiB.
  const uint64_t limit = 0x7fffffffu;
  uint64_t total = ZARE_DAR_HEADER;
  uint64_t names = 0;
  for (const PackInput &f : files) {
    if (f.name.empty() || f.name.find('\0') != std::string::npos) {
      err = "a name is empty or holds a NUL byte";
      return false;
    }
    total += ZARE_DAR_ENTRY_HEADER + uint64_t(f.data.size()) + 1;
    if (names > 0xffff) {
      err = "name table too long: the name offset of \"" + f.name + "\" does not fit 16 bits";
      return false;
    }
    names += f.name.size() + 1;
  }
  total += ZARE_DAR_DIR_HEADER + ZARE_DAR_DIR_RECORD * uint64_t(files.size()) + names + ZARE_DAR_TRAILER;
  if (total > limit) {
    err = "pack would exceed 2 GiB";
    return false;
  }
  out.reserve(size_t(total));
  putTag(out, ZARE_DAR_MAGIC);
  putLe32(out, 0);
  std::vector<uint32_t> offsets;
  for (const PackInput &f : files) {
    offsets.push_back(uint32_t(out.size()));
    putTag(out, ZARE_DAR_TAG_DAT);
    putLe32(out, uint32_t(f.data.size()));
    out.insert(out.end(), f.data.begin(), f.data.end());
    // One spare byte after the data, repeating its last byte (0 for an empty file).
    out.push_back(f.data.empty() ? 0 : f.data.back());
  }
  const uint32_t dirOffset = uint32_t(out.size());
  putTag(out, ZARE_DAR_TAG_DIR);
  putLe16(out, uint16_t(files.size()));
  uint32_t nameOffset = 0;
  for (size_t i = 0; i < files.size(); i++) {
    putLe32(out, offsets[i]);
    putLe16(out, uint16_t(nameOffset));
    nameOffset += uint32_t(files[i].name.size() + 1);
  }
  for (const PackInput &f : files) {
    out.insert(out.end(), f.name.begin(), f.name.end());
    out.push_back(0);
  }
  putTag(out, ZARE_DAR_TAG_END);
  putLe32(out, dirOffset);
  setLe32(out.data() + ZARE_DAR_TOTAL_AT, uint32_t(out.size()));
  return true;
}

// Formats a message into err and returns false, for the read checks.
__attribute__((format(printf, 2, 3))) static bool fail(std::string &err, const char *fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  err = buf;
  return false;
}

// True when the bytes at the offset (known to be inside) spell the whole tag.
template <size_t N>
static bool tagAt(std::span<const uint8_t> p, size_t at, const char (&tag)[N]) {
  return std::memcmp(p.data() + at, tag, N) == 0;
}

bool packRead(std::span<const uint8_t> pack, PackDirectory &dir, std::string &err) {
  dir = PackDirectory{};
  const size_t n = pack.size();
  const uint8_t *p = pack.data();
  constexpr size_t kSmallest = ZARE_DAR_HEADER + ZARE_DAR_DIR_HEADER + ZARE_DAR_TRAILER;
  if (n < kSmallest) return fail(err, "file of %zu bytes is too short for a pack (at least %zu)", n, kSmallest);
  if (!tagAt(pack, 0, ZARE_DAR_MAGIC)) return fail(err, "no \"ZDAR\" magic at offset 0");
  const uint32_t total = getLe32(p + ZARE_DAR_TOTAL_AT);
  if (total != n) return fail(err, "header says %u bytes but the file has %zu", total, n);
  if (total > 0x7fffffffu) return fail(err, "total length %u exceeds the signed 32-bit range", total);
  const size_t trailer = n - ZARE_DAR_TRAILER;
  if (!tagAt(pack, trailer, ZARE_DAR_TAG_END)) return fail(err, "no \"END\" trailer tag at offset %zu", trailer);
  const uint32_t dirOffset = getLe32(p + trailer + ZARE_DAR_TRAILER_DIR_AT);
  if (dirOffset < ZARE_DAR_HEADER || uint64_t(dirOffset) + ZARE_DAR_DIR_HEADER > trailer)
    return fail(err, "directory offset %u lies outside the pack body (8 to %zu)", dirOffset,
                trailer - ZARE_DAR_DIR_HEADER);
  if (!tagAt(pack, dirOffset, ZARE_DAR_TAG_DIR)) return fail(err, "no \"DIR\" tag at the directory offset %u", dirOffset);
  const uint32_t count = getLe16(p + dirOffset + ZARE_DAR_DIR_COUNT_AT);
  const uint64_t tableStart = uint64_t(dirOffset) + ZARE_DAR_DIR_HEADER + ZARE_DAR_DIR_RECORD * uint64_t(count);
  if (tableStart > trailer)
    return fail(err, "directory of %u records runs past the trailer at offset %zu", count, trailer);
  const size_t tableLength = size_t(trailer - tableStart);
  dir.totalLength = total;
  dir.dirOffset = dirOffset;
  dir.nameTableLength = uint32_t(tableLength);
  std::string_view table(reinterpret_cast<const char *>(p + tableStart), tableLength);
  for (uint32_t i = 0; i < count; i++) {
    const size_t rec = dirOffset + ZARE_DAR_DIR_HEADER + ZARE_DAR_DIR_RECORD * size_t(i);
    PackRecord r;
    r.entryOffset = getLe32(p + rec);
    r.nameOffset = getLe16(p + rec + ZARE_DAR_RECORD_NAME_AT);
    if (r.nameOffset >= tableLength)
      return fail(err, "record %u: name offset %u lies outside the name table", i, unsigned(r.nameOffset));
    const size_t end = table.find('\0', r.nameOffset);
    if (end == std::string_view::npos) return fail(err, "record %u: name is not terminated inside the name table", i);
    r.name = std::string(table.substr(r.nameOffset, end - r.nameOffset));
    if (r.entryOffset < ZARE_DAR_HEADER || uint64_t(r.entryOffset) + ZARE_DAR_ENTRY_HEADER > dirOffset)
      return fail(err, "record %u: entry offset %u lies outside the entry area", i, r.entryOffset);
    if (!tagAt(pack, r.entryOffset, ZARE_DAR_TAG_DAT))
      return fail(err, "record %u: no \"DAT\" tag at entry offset %u", i, r.entryOffset);
    r.dataLength = getLe32(p + r.entryOffset + ZARE_DAR_ENTRY_LENGTH_AT);
    r.dataOffset = r.entryOffset + ZARE_DAR_ENTRY_HEADER;
    if (uint64_t(r.dataOffset) + r.dataLength > dirOffset)
      return fail(err, "record %u: data of %u bytes runs into the directory", i, r.dataLength);
    dir.records.push_back(std::move(r));
  }
  return true;
}

bool manifestParse(std::string_view text, std::vector<std::string> &names, std::string &err) {
  names.clear();
  size_t lineNo = 0;
  while (!text.empty()) {
    lineNo++;
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line.find('\0') != std::string_view::npos || line.find("..") != std::string_view::npos || line.front() == '/') {
      fail(err, "manifest line %zu: a name must be a relative path without NUL or \"..\"", lineNo);
      return false;
    }
    names.emplace_back(line);
  }
  if (names.empty()) {
    err = "manifest lists no files";
    return false;
  }
  return true;
}
