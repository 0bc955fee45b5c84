#include "units/for_open_key.h"

#include <vorlix/abi.h>

#include "diag/for_msgnum.h"

namespace {

constexpr For_Key_Row key_access[] = {{1, "SEQUENTIAL"}, {2, "DIRECT"}, {3, "APPEND"}, {4, "KEYED"}, {5, "STREAM"}};
constexpr For_Key_Row key_blank[] = {{1, "ZERO"}, {2, "NULL"}};
constexpr For_Key_Row key_carriage[] = {{1, "FORTRAN"}, {2, "LIST"}, {3, "NONE"}};
constexpr For_Key_Row key_dispose[] = {{1, "SAVE"},   {1, "KEEP"},         {2, "DELETE"},       {3, "PRINT"},
                                       {4, "SUBMIT"}, {5, "PRINT/DELETE"}, {6, "SUBMIT/DELETE"}};
constexpr For_Key_Row key_form[] = {{1, "FORMATTED"}, {2, "UNFORMATTED"}, {4, "BINARY"}};
constexpr For_Key_Row key_organization[] = {{1, "SEQUENTIAL"}, {2, "RELATIVE"}, {3, "INDEXED"}};
constexpr For_Key_Row key_recordtype[] = {{1, "FIXED"},     {2, "VARIABLE"},  {3, "SEGMENTED"},  {5, "STREAM"},
                                          {7, "STREAM_CR"}, {6, "STREAM_LF"}, {8, "STREAM_CRLF"}};
constexpr For_Key_Row key_status[] = {{1, "OLD"}, {2, "NEW"}, {3, "SCRATCH"}, {4, "UNKNOWN"}, {5, "REPLACE"}};
constexpr For_Key_Row key_convert[] = {{1, "BIG_ENDIAN"}, {2, "LITTLE_ENDIAN"}, {3, "VAXD"}, {4, "VAXG"},  {6, "CRAY"},
                                       {5, "IBM"},        {7, "FDX"},           {8, "FGX"},  {9, "NATIVE"}};
constexpr For_Key_Row key_delim[] = {{1, "APOSTROPHE"}, {2, "NONE"}, {3, "QUOTE"}};
constexpr For_Key_Row key_position[] = {{1, "APPEND"}, {2, "ASIS"}, {3, "REWIND"}};
constexpr For_Key_Row key_mode[] = {{1, "READ"}, {2, "READWRITE"}, {3, "WRITE"}};
constexpr For_Key_Row key_share[] = {{1, "COMPAT"}, {2, "DENYNONE"}, {3, "DENYRD"}, {4, "DENYRW"}, {5, "DENYWR"}};
constexpr For_Key_Row key_round[] = {{1, "UP"},      {2, "DOWN"},       {3, "ZERO"},
                                     {4, "NEAREST"}, {5, "COMPATIBLE"}, {6, "PROCESSOR_DEFINED"}};
constexpr For_Key_Row key_decimal[] = {{2, "COMMA"}, {1, "POINT"}};
constexpr For_Key_Row key_sign[] = {{2, "PLUS"}, {3, "SUPPRESS"}, {1, "PROCESSOR_DEFINED"}};
constexpr For_Key_Row key_encoding[] = {{1, "DEFAULT"}, {2, "UTF-8"}};
constexpr For_Key_Row key_asynch[] = {{1, "NO"}, {2, "YES"}};

}  // namespace

std::span<const For_Key_Row> for__key_table(int code) {
    switch (code) {
    case FOR_KEY_ACCESS: return key_access;
    case FOR_KEY_BLANK: return key_blank;
    case FOR_KEY_CARRIAGECONTROL: return key_carriage;
    case FOR_KEY_DISPOSE: return key_dispose;
    case FOR_KEY_FORM: return key_form;
    case FOR_KEY_ORGANIZATION: return key_organization;
    case FOR_KEY_RECORDTYPE: return key_recordtype;
    case FOR_KEY_STATUS: return key_status;
    case FOR_KEY_CONVERT: return key_convert;
    case FOR_KEY_DELIM: return key_delim;
    case FOR_KEY_POSITION: return key_position;
    case FOR_KEY_ACTION:
    case FOR_KEY_MODE: return key_mode;
    case FOR_KEY_SHARE: return key_share;
    case FOR_KEY_ROUND: return key_round;
    case FOR_KEY_DECIMAL: return key_decimal;
    case FOR_KEY_SIGN: return key_sign;
    case FOR_KEY_ENCODING: return key_encoding;
    case FOR_KEY_PAD:
    case FOR_KEY_BUFFERED:
    case FOR_KEY_ASYNCHRONOUS: return key_asynch;
    default: return {};
    }
}

int for__open_key(std::string_view text, int code, uint64_t *value, For_Key_Stmt stmt) {
    std::span<const For_Key_Row> table = for__key_table(code);
    if (table.empty()) return msg::internal_error;
    // Trailing blanks go, but never the first character: an all-blank value
    // stays one blank and matches nothing.
    size_t n = text.size();
    while (n > 1 && text[n - 1] == ' ') --n;
    for (const For_Key_Row &row : table) {
        if (row.name.size() != n) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) {
            char c = text[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            same = c == row.name[i];
        }
        if (same) {
            *value = static_cast<uint64_t>(row.value);
            return 0;
        }
    }
    switch (stmt) {
    case For_Key_Stmt::open: return msg::open_keyword_value;
    case For_Key_Stmt::close: return msg::close_keyword_value;
    default: return msg::io_keyword_value;
    }
}
