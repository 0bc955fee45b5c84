// The keyword value tables: the one encoding of keyword values (small
// integers from 1) shared by OPEN, CLOSE, INQUIRE and the control lists of
// data transfer statements.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

struct For_Key_Row {
    int8_t value;
    std::string_view name;  // upper case
};

// The table for a keyword code, empty when the code takes no keyword value.
std::span<const For_Key_Row> for__key_table(int code);

enum class For_Key_Stmt { open = 1, close = 2, other = 3 };

// Looks a character keyword value up in the table of `code`: case is
// ignored, trailing blanks are not significant, leading blanks are. Returns
// 0 and the value, or 45 (OPEN), 115 (CLOSE), 116 (other statements) when
// the text is no value of the table, or 8 when the code has no table.
int for__open_key(std::string_view text, int code, uint64_t *value, For_Key_Stmt stmt);
