// Logical input fields: L editing, and the digit style of the exported
// entry.
#include <vorlix/cvt.h>

namespace {

// The stored value: -1 (every bit set) for true so that the item reads as
// true whatever its kind and whichever bit a test looks at.
int32_t boolean(const char *text, int32_t w, int32_t style, int64_t *value) {
    *value = 0;
    if (w < 0) return CVT_IN_BAD_WIDTH;
    const char *p = text, *end = text + w;
    while (p < end && *p == ' ') ++p;
    if (!(style & CVT_BOOLEAN_FORTRAN)) {
        if (p == end) return CVT_IN_NOT_LOGICAL;
        if (*p == '0')
            *value = 1;
        else if (*p == '1')
            *value = 0;
        else
            return CVT_IN_NOT_LOGICAL;
        return CVT_IN_OK;
    }
    if (p == end) return CVT_IN_OK;  // an all-blank field is false
    if (*p == '.' && ++p == end) return CVT_IN_NOT_LOGICAL;
    switch (*p) {
    case 'T':
    case 't': *value = -1; return CVT_IN_OK;
    case 'F':
    case 'f': return CVT_IN_OK;
    default: return CVT_IN_NOT_LOGICAL;
    }
}

}  // namespace

int32_t cvt_text_to_boolean64(const char *text, int32_t w, int32_t style, int64_t *value) {
    return boolean(text, w, style, value);
}

int32_t cvt_text_to_boolean(const char *text, int32_t w, int32_t style, int32_t *value) {
    int64_t v;
    const int32_t r = boolean(text, w, style, &v);
    *value = static_cast<int32_t>(v);
    return r;
}
