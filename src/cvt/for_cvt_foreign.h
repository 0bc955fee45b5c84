// Numbers in unformatted records on units whose files hold another
// representation (CONVERT=): integers and logicals in reversed byte order,
// floating values in big-endian IEEE or a foreign format. The transfer
// routines pass every element of such an item through here, one element
// at a time, through scratch space of their own.
#pragma once
#include <cstdint>

struct For_Lub;

// Whether items of this type change on their way to or from the unit's
// file: 0 when they go as they are, otherwise 1 when the unit's option
// bit 4 is set and -1 when not.
int for__cvt_foreign_check(int type, int64_t count, const For_Lub *lub);

// Converts in place one element (a complex value's component) of `size`
// bytes, copied raw from the file into the item: 0, or 95 when the value
// has no form in the item's type. The element then holds the conversion
// routine's special result: the invalid value (a NaN in IEEE) for a
// reserved operand, an unnormalised or invalid value, an infinity for an
// overflow.
int for__cvt_foreign_read(void *elem, int type, const For_Lub *lub, int64_t size);

// Puts the file form of one element of `size` bytes (at most 16) into
// `out`: 0, or 95 when the value has no form in the file's format (`out`
// then holds the format's special value for it).
int for__cvt_foreign_write(const void *elem, int type, int64_t size, const For_Lub *lub, void *out);

// Whether the only change to elements of `type` in this direction is the
// reversal of their bytes: the transfer then reverses whole runs of them.
bool for__cvt_foreign_reverse_only(int type, const For_Lub *lub, bool output);

// Copies `count` elements of `size` bytes (1, 2, 4, 8 or 16) from `src` to
// `dst` with the bytes of each reversed; `dst` may be `src`, other overlaps
// are not allowed.
void for__reverse_elements(void *dst, const void *src, uint64_t count, int64_t size);
// The same without the processor-specific form: what a processor without
// AVX2 runs, callable on any so that it is tested everywhere.
void for__reverse_elements_baseline(void *dst, const void *src, uint64_t count, int64_t size);

// Issues the info diagnostic of a 95 from the element conversions; the
// statement goes on with the next element.
void for__cvt_foreign_failed();
