// zare: the pack's byte layout, named once for the library's reader (data.cpp) and for the pack
// tool that writes it. All integers are little-endian and unaligned; tags are ASCII without a
// terminator; offsets count from the pack's first byte.
//
//   pack       magic "ZDAR" | total length u32 | entries... | directory | "END" | directory offset u32
//   entry      "DAT" | data length u32 | data
//   directory  "DIR" | record count u16 | records: entry offset u32, name offset u16 | name table
//
// The name table holds the NUL-terminated names back to back; a record's name offset counts from
// its start. The shipped pack follows each entry's data with one byte repeating its last byte.
#ifndef ZARE_PACKLAYOUT_H
#define ZARE_PACKLAYOUT_H

#include <cstdint>

// The magic and the tags, compared byte for byte over their whole length.
constexpr char ZARE_DAR_MAGIC[4] = {'Z', 'D', 'A', 'R'};
constexpr char ZARE_DAR_TAG_DAT[3] = {'D', 'A', 'T'};
constexpr char ZARE_DAR_TAG_DIR[3] = {'D', 'I', 'R'};
constexpr char ZARE_DAR_TAG_END[3] = {'E', 'N', 'D'};

// Pack header: the magic, then the total length at offset 4; the first entry follows it.
constexpr int64_t ZARE_DAR_TOTAL_AT = 4;
constexpr int64_t ZARE_DAR_HEADER = 8;

// Entry: its tag, the data length at 3, the data from 7 on.
constexpr int64_t ZARE_DAR_ENTRY_LENGTH_AT = 3;
constexpr int64_t ZARE_DAR_ENTRY_HEADER = 7;

// Directory: its tag, the record count at 3, the records from 5 on, 6 bytes each with the name
// offset at 4 within the record; the name table follows the last record.
constexpr int64_t ZARE_DAR_DIR_COUNT_AT = 3;
constexpr int64_t ZARE_DAR_DIR_HEADER = 5;
constexpr int64_t ZARE_DAR_DIR_RECORD = 6;
constexpr int64_t ZARE_DAR_RECORD_NAME_AT = 4;

// Trailer: the last 7 bytes, the tag and then the directory offset at 3.
constexpr int64_t ZARE_DAR_TRAILER = 7;
constexpr int64_t ZARE_DAR_TRAILER_DIR_AT = 3;

#endif
