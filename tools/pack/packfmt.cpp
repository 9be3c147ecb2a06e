// The pack format: writing a pack from named files, and reading one back with every field checked.
#include "packfmt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bytes.h"

// Appends a three-letter tag.
static void putTag(std::vector<uint8_t> &out, const char *tag) {
  out.insert(out.end(), tag, tag + 3);
}

bool packWrite(const std::vector<PackInput> &files, std::vector<uint8_t> &out, std::string &err) {
  out.clear();
  if (files.size() > 0xffff) {
    err = "too many files for the directory (at most 65535)";
    return false;
  }
  // The readers take the total length as a signed 32-bit value, so stay below 2 GiB.
  const uint64_t limit = 0x7fffffffu;
  uint64_t total = 8;
  uint64_t names = 0;
  for (const PackInput &f : files) {
    if (f.name.empty() || f.name.find('\0') != std::string::npos) {
      err = "a name is empty or holds a NUL byte";
      return false;
    }
    total += 7 + uint64_t(f.data.size()) + 1;
    if (names > 0xffff) {
      err = "name table too long: the name offset of \"" + f.name + "\" does not fit 16 bits";
      return false;
    }
    names += f.name.size() + 1;
  }
  total += 5 + 6 * uint64_t(files.size()) + names + 7;
  if (total > limit) {
    err = "pack would exceed 2 GiB";
    return false;
  }
  out.reserve(size_t(total));
  out.insert(out.end(), {'Z', 'D', 'A', 'R'});
  putLe32(out, 0);
  std::vector<uint32_t> offsets;
  for (const PackInput &f : files) {
    offsets.push_back(uint32_t(out.size()));
    putTag(out, "DAT");
    putLe32(out, uint32_t(f.data.size()));
    out.insert(out.end(), f.data.begin(), f.data.end());
    // One spare byte after the data, repeating its last byte (0 for an empty file).
    out.push_back(f.data.empty() ? 0 : f.data.back());
  }
  const uint32_t dirOffset = uint32_t(out.size());
  putTag(out, "DIR");
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
  putTag(out, "END");
  putLe32(out, dirOffset);
  setLe32(out.data() + 4, uint32_t(out.size()));
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

// True when the three bytes at the offset (known to be inside) spell the tag.
static bool tagAt(std::span<const uint8_t> p, size_t at, const char *tag) {
  return std::memcmp(p.data() + at, tag, 3) == 0;
}

bool packRead(std::span<const uint8_t> pack, PackDirectory &dir, std::string &err) {
  dir = PackDirectory{};
  const size_t n = pack.size();
  // Smallest pack: header (8), "DIR" and a count of 0 (5), trailer (7).
  if (n < 20) return fail(err, "file of %zu bytes is too short for a pack (at least 20)", n);
  if (std::memcmp(pack.data(), "ZDAR", 4) != 0) return fail(err, "no \"ZDAR\" magic at offset 0");
  const uint32_t total = getLe32(pack.data() + 4);
  if (total != n) return fail(err, "header says %u bytes but the file has %zu", total, n);
  if (total > 0x7fffffffu) return fail(err, "total length %u exceeds the signed 32-bit range", total);
  if (!tagAt(pack, n - 7, "END")) return fail(err, "no \"END\" trailer tag at offset %zu", n - 7);
  const uint32_t dirOffset = getLe32(pack.data() + n - 4);
  if (dirOffset < 8 || uint64_t(dirOffset) + 5 > n - 7)
    return fail(err, "directory offset %u lies outside the pack body (8 to %zu)", dirOffset, n - 12);
  if (!tagAt(pack, dirOffset, "DIR")) return fail(err, "no \"DIR\" tag at the directory offset %u", dirOffset);
  const uint32_t count = getLe16(pack.data() + dirOffset + 3);
  const uint64_t tableStart = uint64_t(dirOffset) + 5 + 6 * uint64_t(count);
  if (tableStart > n - 7)
    return fail(err, "directory of %u records runs past the trailer at offset %zu", count, n - 7);
  const size_t tableLength = size_t(n - 7 - tableStart);
  dir.totalLength = total;
  dir.dirOffset = dirOffset;
  dir.nameTableLength = uint32_t(tableLength);
  std::string_view table(reinterpret_cast<const char *>(pack.data() + tableStart), tableLength);
  for (uint32_t i = 0; i < count; i++) {
    const size_t rec = dirOffset + 5 + 6 * size_t(i);
    PackRecord r;
    r.entryOffset = getLe32(pack.data() + rec);
    r.nameOffset = getLe16(pack.data() + rec + 4);
    if (r.nameOffset >= tableLength)
      return fail(err, "record %u: name offset %u lies outside the name table", i, unsigned(r.nameOffset));
    const size_t end = table.find('\0', r.nameOffset);
    if (end == std::string_view::npos) return fail(err, "record %u: name is not terminated inside the name table", i);
    r.name = std::string(table.substr(r.nameOffset, end - r.nameOffset));
    if (r.entryOffset < 8 || uint64_t(r.entryOffset) + 7 > dirOffset)
      return fail(err, "record %u: entry offset %u lies outside the entry area", i, r.entryOffset);
    if (!tagAt(pack, r.entryOffset, "DAT")) return fail(err, "record %u: no \"DAT\" tag at entry offset %u", i, r.entryOffset);
    r.dataLength = getLe32(pack.data() + r.entryOffset + 3);
    r.dataOffset = r.entryOffset + 7;
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
