// Output editing: one data item into the characters of one output field,
// under the data edit descriptor that the format interpreter reports.
#pragma once
#include <cstdint>

#include "format/for_value_info.h"

struct For_Fmt_Isb;

// Edits the item under isb->opcode into field[0, isb->w), right-aligned,
// and writes nothing outside it. isb->unit must be set. AT sets isb->w to
// the trimmed length first (the caller sizes the field by the item length).
// Returns 0, 61 (the type cannot take the descriptor), 63 (conversion
// error: the field is asterisks), 64, 66 (record overflow) or 48 (the
// opcode is not an output data descriptor).
int for__format_value(const For_Value_Info *value, For_Fmt_Isb *isb, char *field);
