// Keyword values of the control lists and OPEN/CLOSE: the encoding the
// program and the library share.
#include <gtest/gtest.h>

#include <vorlix/abi.h>

#include "units/for_open_key.h"

namespace {

TEST(OpenKey, LookupIgnoresCaseAndTrailingBlanksOnly) {
    struct Case {
        const char *text;
        int code;
        For_Key_Stmt stmt;
        int status;
        uint64_t value;
    } cases[] = {
        {"sequential", FOR_KEY_ACCESS, For_Key_Stmt::open, 0, 1},
        {"Stream   ", FOR_KEY_ACCESS, For_Key_Stmt::open, 0, 5},
        {" STREAM", FOR_KEY_ACCESS, For_Key_Stmt::open, 45, 0},  // leading blanks count
        {"keep", FOR_KEY_DISPOSE, For_Key_Stmt::close, 0, 1},
        {"save", FOR_KEY_DISPOSE, For_Key_Stmt::close, 0, 1},
        {"print/delete", FOR_KEY_DISPOSE, For_Key_Stmt::close, 0, 5},
        {"DELETED", FOR_KEY_DISPOSE, For_Key_Stmt::close, 115, 0},
        {"stream_crlf", FOR_KEY_RECORDTYPE, For_Key_Stmt::open, 0, 8},
        {"readwrite", FOR_KEY_ACTION, For_Key_Stmt::open, 0, 2},
        {"write", FOR_KEY_MODE, For_Key_Stmt::open, 0, 3},
        {"comma", FOR_KEY_DECIMAL, For_Key_Stmt::other, 0, 2},
        {"processor_defined", FOR_KEY_SIGN, For_Key_Stmt::other, 0, 1},
        {"utf-8", FOR_KEY_ENCODING, For_Key_Stmt::open, 0, 2},
        {"yes", FOR_KEY_PAD, For_Key_Stmt::other, 0, 2},
        {"cray", FOR_KEY_CONVERT, For_Key_Stmt::open, 0, 6},
        {"    ", FOR_KEY_PAD, For_Key_Stmt::other, 116, 0},  // all blank: one blank, no match
        {"", FOR_KEY_ROUND, For_Key_Stmt::other, 116, 0},
        {"UP", FOR_KEY_FILE, For_Key_Stmt::open, 8, 0},  // FILE= takes no keyword value
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t v = 0;
        EXPECT_EQ(for__open_key(c.text, c.code, &v, c.stmt), c.status);
        EXPECT_EQ(v, c.value);
    }
}

}  // namespace
