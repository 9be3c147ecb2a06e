// The pack format: writing a pack from named files, and reading one back with every field checked.
#ifndef ZPACK_PACKFMT_H
#define ZPACK_PACKFMT_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One file that goes into a pack: its name in the directory and its bytes.
struct PackInput {
  std::string name;
  std::vector<uint8_t> data;
};

// One directory record of a pack, as read back.
struct PackRecord {
  uint32_t entryOffset = 0;
  uint16_t nameOffset = 0;
  uint32_t dataOffset = 0;  // first data byte, entryOffset + 7
  uint32_t dataLength = 0;
  std::string name;
};

// A pack's directory, as read back.
struct PackDirectory {
  uint32_t totalLength = 0;
  uint32_t dirOffset = 0;
  uint32_t nameTableLength = 0;
  std::vector<PackRecord> records;
};

// Lays out a pack: entries from offset 8 in the given order, each followed by one byte repeating
// its last byte, then the directory, the name table and the trailer. Returns false (with a reason
// in err) when the files do not fit the format's field sizes.
bool packWrite(const std::vector<PackInput> &files, std::vector<uint8_t> &out, std::string &err);

// Reads and checks a whole pack image: every offset and length stays inside the image, the tags are
// where they belong, names are terminated inside the name table. Returns false with the first
// problem in err; never reads outside the span.
bool packRead(std::span<const uint8_t> pack, PackDirectory &dir, std::string &err);

// Parses a manifest: one name a line; blank lines and lines starting with '#' are skipped,
// trailing blanks and carriage returns are dropped. Returns false with a reason on a bad name.
bool manifestParse(std::string_view text, std::vector<std::string> &names, std::string &err);

#endif
