// Reading one compiled-format record into plain fields, whatever layout it
// was written in (generic short or long form, with or without variable
// format expressions, literal, compact one-word record, DT in either
// layout), so that the interpreter acts on decoded records only.
#pragma once
#include <cstddef>
#include <cstdint>

#include <vorlix/format.h>

struct For_Fmt_Rec {
    uint32_t header;        // the first word as written
    uint8_t code;           // the record's own opcode (header bits 0-7)
    uint8_t op;             // the opcode it stands for (fmt_cat)
    uint8_t category;       // fmt_cat category, 1..12
    uint8_t vfe;            // header bits 8-11 (FOR_FMT_VFE_F1.. >> 8); generic records only
    int64_t f1;             // repeat count / count
    int64_t f2;             // width, position, scale factor (signed), literal length
    uint32_t f3;            // d, or m
    uint32_t f4;            // e
    For_Vfe_Slot slots[4];  // copied from the record when vfe != 0, else zero
    const char *text;       // literal characters (f2 of them)
    const char *dt_type;    // DT type name, NUL-terminated in the record; null when absent
    std::size_t dt_type_len;
    const char *dt_vlist;  // DT v-list text, NUL-terminated; null when absent
    std::size_t dt_vlist_len;
    std::size_t size;  // bytes from this record to the next
};

// Decodes the record at `rec`, of which at most `avail` bytes may be read
// (a format from compiled code, whose length is not known, passes SIZE_MAX).
// Returns 0; 8 when the opcode is outside the table or of category 0; 62
// when the record does not fit in `avail` or a DT string is unterminated.
int for__fmt_decode(const unsigned char *rec, std::size_t avail, For_Fmt_Rec *out);
