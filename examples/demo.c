/*
 * What compiled Fortran code does for a few statements, written by hand in
 * C against libvorlix.so.5. Each call passes the statement's context, a
 * flag word, a descriptor list (two bytes per item: type code, form) and a
 * value list (64-bit slots), as the compiler would.
 *
 *   PRINT *, 'integers', 42, -7_8
 *   PRINT *, 'reals', 1.5, 3.141592653589793d0
 *   PRINT *, 'complex', (1.0, -2.0), 'logical', .true.
 *   PRINT *, a                 ! a(1:12), written over two records
 *   PRINT *, a(2:12:5)         ! a strided section
 *   WRITE (line, *) 'internal', 123
 *   PRINT *, trim(line)
 */
#include <stdint.h>
#include <string.h>

#include <vorlix/vorlix.h>

#define ADDR(p) ((For_Value_List)(uintptr_t)(p))

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    For_Context ctx = {0};

    /* PRINT *, 'integers', 42, -7_8: a character scalar (form 4: length,
     * address), then two values carried in the slots (form 1). */
    static const char s1[] = "integers";
    const For_Dsc_Lst d1[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_INT4, FOR_FORM_VALUE,
                              FOR_TYPE_INT8, FOR_FORM_VALUE, FOR_TYPE_END_STMT, 0};
    const For_Value_List v1[] = {8, ADDR(s1), 42, (For_Value_List)(int64_t)-7};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d1, v1, 0, 0);

    /* PRINT *, 'reals', x, d: scalars by address (form 3). */
    static const char s2[] = "reals";
    float x = 1.5f;
    double d = 3.141592653589793;
    const For_Dsc_Lst d2[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_REAL4, FOR_FORM_ADDR,
                              FOR_TYPE_REAL8, FOR_FORM_ADDR, FOR_TYPE_END_STMT, 0};
    const For_Value_List v2[] = {5, ADDR(s2), ADDR(&x), ADDR(&d)};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d2, v2, 0, 0);

    /* PRINT *, 'complex', z, 'logical', t */
    static const char s3[] = "complex", s4[] = "logical";
    float z[2] = {1.0f, -2.0f};
    int32_t t = -1;
    const For_Dsc_Lst d3[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_COMPLEX4, FOR_FORM_ADDR,
                              FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_LOGICAL4, FOR_FORM_ADDR,
                              FOR_TYPE_END_STMT, 0};
    const For_Value_List v3[] = {7, ADDR(s3), ADDR(z), 7, ADDR(s4), ADDR(&t)};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d3, v3, 0, 0);

    /* PRINT *, a: a contiguous array (form 5: byte length, address). */
    int32_t a[12];
    for (int i = 0; i < 12; ++i) a[i] = (i + 1) * (i + 1);
    const For_Dsc_Lst d4[] = {FOR_TYPE_INT4, FOR_FORM_ARRAY, FOR_TYPE_END_STMT, 0};
    const For_Value_List v4[] = {sizeof a, ADDR(a)};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d4, v4, 0, 0);

    /* PRINT *, a(2:12:5): a section (form 7: rank, base, then lower,
     * upper, stride in bytes per dimension). */
    const For_Dsc_Lst d5[] = {FOR_TYPE_INT4, FOR_FORM_SECTION, FOR_TYPE_END_STMT, 0};
    const For_Value_List v5[] = {1, ADDR(&a[1]), 1, 3, 5 * sizeof(int32_t)};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d5, v5, 0, 0);

    /* WRITE (line, *) 'internal', 123: the internal file comes first. */
    char line[40];
    static const char s6[] = "internal";
    const For_Dsc_Lst d6[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_CHARACTER, FOR_FORM_CHAR,
                              FOR_TYPE_INT4, FOR_FORM_VALUE, FOR_TYPE_END_STMT, 0};
    const For_Value_List v6[] = {sizeof line, ADDR(line), 8, ADDR(s6), 123};
    for_write_int_lis(&ctx, 0, d6, v6, 0, 0);
    size_t n = sizeof line;
    while (n > 0 && line[n - 1] == ' ') --n;
    const For_Dsc_Lst d7[] = {FOR_TYPE_CHARACTER, FOR_FORM_CHAR, FOR_TYPE_END_STMT, 0};
    const For_Value_List v7[] = {n, ADDR(line)};
    for_write_seq_lis(&ctx, FOR_UNIT_PRINT, 0, d7, v7, 0, 0);

    return for_rtl_finish_();
}
