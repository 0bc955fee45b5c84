// Hooks into an optional coarray support library. Each is bound weakly: a
// program that links no such library is simply not a coarray program, and
// every helper below then does nothing or answers 0.
#pragma once

// The diagnostic routine handed to the coarray library at start-up.
using For_Caf_Diagnostic = int (*)(int number, int nargs, ...);

// Default visibility said outright, whatever visibility pragma surrounds
// this header: a hidden undefined weak reference is settled to null when the
// library is linked, and could never bind to the coarray library loaded
// with the program.
#define VORLIX_CAF_HOOK extern "C" __attribute__((weak, visibility("default")))
VORLIX_CAF_HOOK void for_rtl_QCAF_INIT(int *argc, char ***argv, For_Caf_Diagnostic diagnostic);
VORLIX_CAF_HOOK int for_rtl_QCAF_THIS_IMAGE();
VORLIX_CAF_HOOK int for_rtl_QCAF_THIS_ORIGINAL_IMAGE();
VORLIX_CAF_HOOK int for_rtl_QCAF_THIS_TEAM_ID();
VORLIX_CAF_HOOK int for_rtl_QCAF_PROBABLY_ABORT();
VORLIX_CAF_HOOK void for_rtl_QCAF_ABORT(const char *text);
VORLIX_CAF_HOOK void for_rtl_QCAF_FINALIZE();
#undef VORLIX_CAF_HOOK

// Start-up: lets the coarray library see (and edit) the command line when
// there is one. `argv` is the address of the argument vector cell. 0.
int for__caf_init(int *argc, char ***argv);

// The current image, or 0 without coarray support.
int for__this_image_number_or_zero();

// The image number in the initial team, fetched once per process; 0 without
// coarray support.
int for__this_original_image_number_or_zero();

// The current team number (-1 asks diagnostics for the short image line),
// or 0 without coarray support.
int for__this_team_id_or_zero();

// Non-zero while the coarray library is tearing the image down.
int for__caf_probably_abort();

// Hands a finished diagnostic text (or null) to the coarray library, which
// may end the image there.
void for__caf_abort(const char *text);

// Termination: lets the coarray library finish.
void for__caf_finalize();
