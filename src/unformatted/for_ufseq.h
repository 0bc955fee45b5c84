// Unformatted sequential records: how each record type frames a record on
// disk, and the state of the record a statement is writing or reading.
//
// VARIABLE: subrecords of leading marker, data, trailing marker. A marker
// is a signed 32-bit length in the unit's byte order; the leading one is
// negative when another subrecord of the record follows, the trailing one
// when one precedes. SEGMENTED: segments of a 16-bit little-endian count
// (data + 2), a 16-bit control word (bit 0 first, bit 1 last), the data and
// a pad byte after odd data. FIXED: RECL bytes, zero-filled. STREAM: the
// data; STREAM_LF/CR/CRLF: the data and the terminator.
#pragma once
#include <cstdint>
#include <cstring>

#include "io/for_desc_item.h"
#include "units/for_lub.h"

// Bits of lub_uf_state.
namespace ufs {
constexpr uint8_t continued = 1;  // the current subrecord is continued by another
constexpr uint8_t direct = 2;     // output: part of the record is in the file already
constexpr uint8_t last_seg = 4;   // input: the current segment ends its record
constexpr uint8_t in_record = 8;  // a record is being written or read
}  // namespace ufs

// The compatibility layout (transfer kind 7): the file starts with 'K'; a
// record is a chain of blocks, each a length byte L, the data and L again;
// L = 129 is a block of 128 bytes that the next block continues, L from 0
// to 128 the record's last block; the byte 130 ends the file.
namespace cls {
constexpr uint8_t end_pending = 1;  // records were written: the end byte is still owed
constexpr unsigned char file_start = 'K';
constexpr unsigned char block_more = 129;
constexpr unsigned char file_end = 130;
constexpr unsigned char block_done = 131;  // input: the trailing byte of the last block is read
constexpr int64_t block_data = 128;
}  // namespace cls

inline bool for__compat_layout(const For_Lub *lub) { return lub->lub_xfer_kind == 7; }

// Most data bytes in one VARIABLE subrecord (2^31 - 9). A variable, not a
// constant, so that tests can split records of a few bytes the way large
// records are split, and compare with other writers at a small limit.
extern uint64_t for__l_subrec_limit;
constexpr uint64_t for_subrec_max = 2147483639;

// The most data bytes a SEGMENTED segment takes: its 16-bit count also
// covers the control word, and RECL bounds the whole segment.
uint64_t for__seg_data_max(const For_Lub *lub);

// The end-of-file record ENDFILE writes on SEGMENTED units: a count of 1,
// which no segment can have (its control word alone needs 2), then 0x1A.
// The reader, the EOF function and POSITION='APPEND' know it by these bytes.
constexpr unsigned char for_seg_eof_record[4] = {0x01, 0x00, 0x1a, 0x00};

// A one-byte 0x1A record counts as an end-of-file record only on units
// whose ENDFILE writes such records: anywhere else it is
// data another program wrote.
inline bool for__eof_records(const For_Lub *lub) { return (lub->lub_flags & lubf::opt_eof_records) != 0; }

// Reads a 4-byte marker in the unit's byte order.
inline int32_t for__get_marker(const For_Lub *lub, const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if (lub->lub_flags & lubf::big_endian) v = __builtin_bswap32(v);
    return static_cast<int32_t>(v);
}

inline void for__put_marker(const For_Lub *lub, unsigned char *p, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    if (lub->lub_flags & lubf::big_endian) u = __builtin_bswap32(u);
    std::memcpy(p, &u, 4);
}

// Data bytes an item puts into an unformatted record: its elements one
// after another, whatever the section's strides; a foreign conversion keeps
// every size. INQUIRE (IOLENGTH=) counts records with it.
inline uint64_t for__uf_item_bytes(const For_Item &it, const For_Shape &shape) {
    if (shape.form == FOR_FORM_SECTION || shape.form == FOR_FORM_SECTION_ELEN)
        return static_cast<uint64_t>(for__item_count(it, shape)) * static_cast<uint64_t>(it.elem_len);
    return static_cast<uint64_t>(it.length);
}

// Copies an item's bytes; the common scalar sizes without a call. An
// empty array may have no storage at all.
inline void for__copy_item(char *dst, const char *src, uint64_t n) {
    switch (n) {
    case 0: return;
    case 4: std::memcpy(dst, src, 4); return;
    case 8: std::memcpy(dst, src, 8); return;
    default: std::memcpy(dst, src, n);
    }
}

// Writes a one-record VARIABLE, SEGMENTED, FIXED or STREAM record of the
// given bytes at the current position, framed as the unit frames records
// (ENDFILE's end-of-file record). 0 or 38.
int for__put_su_bytes(For_Lub *lub, const char *data, uint64_t n);

// Puts output held in the buffer into the file and gives back read-ahead,
// so that the descriptor is at the unit's logical position. 0 or status.
int for__uf_settle(For_Lub *lub);

// POS= of a stream statement, formatted or unformatted: the unit is settled
// and its descriptor moved to the byte the statement names. 0 when no POS=
// was given or the move is done, the settling's status, or `seek_failed`
// (errno in lub_errno) when the descriptor cannot move.
int for__seek_pos(For_Lub *lub, int seek_failed);

// What an unformatted sequential statement requires of its connection:
// 0, 256 (formatted), 259 (direct access) or 114 (an editing mode given).
int for__uf_check(For_Lub *lub);

// Whether the end-of-file record of the unit's form lies at offset `at` of
// `fd` (read without moving the descriptor), and how long that record is
// (0: the form has none).
bool for__eof_record_at(const For_Lub *lub, int fd, long at);
int for__eof_record_size(const For_Lub *lub);

// Completes, with valid framing, an output record that a failed statement
// left open, so that the file never keeps a marker that lies; and on a
// compatibility-layout unit that wrote records, writes the end byte 130 at
// the current position (CLOSE, REWIND, BACKSPACE, ENDFILE, a READ). 0 or 38.
int for__finish_ufseq_write(For_Lub *lub);

// The item transfer of unformatted statements, sequential and direct: an
// item's bytes, element by element for a section, converted when the unit
// holds a foreign form (CONVERT=), to or from the statement's record. A
// statement by record number (lub_stmt.direct) places them in its record
// (for__dir_put_bytes, for__dir_get_bytes). 0 or the failure.
int for__uf_put_item(For_Lub *lub, const For_Item &it, const For_Shape &shape);
int for__uf_get_item(For_Lub *lub, const For_Item &it, const For_Shape &shape);
