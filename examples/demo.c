/*
 * What compiled Fortran code does for a few statements, written by hand in
 * C against libvorlix.so.5:
 *
 *   UNLOCK (10)
 *   UNLOCK (-77, IOSTAT=ios)   ! -77: no NEWUNIT gave this number
 *   UNLOCK (-77)                          ! no IOSTAT=: a run-time diagnostic
 */
#include <stdio.h>

#include <vorlix/vorlix.h>

int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);

    For_Context ctx = {0};
    int ios = for_unlock(&ctx, 10, 0);
    printf("UNLOCK (10)                        -> status %d\n", ios);

    ios = for_unlock(&ctx, -77, iof_ext | iof_iostat);
    printf("UNLOCK (-77, IOSTAT=ios)           -> ios = %d\n", ios);

    printf("UNLOCK (-77) without IOSTAT=       -> the program ends:\n");
    fflush(stdout);
    for_unlock(&ctx, -77, 0);
    return for_rtl_finish_();
}
