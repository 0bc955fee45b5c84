// Settings read from the environment at start-up, the boolean environment
// test, and what start-up records about the process.
#pragma once
#include <cstdint>

#include "vorlix/runtime.h"  // for_check_env_name

// Values of the I/O size settings: -1 unset, -2 invalid syntax, else the value.
inline constexpr int32_t for__setting_unset = -1;
inline constexpr int32_t for__setting_invalid = -2;

extern int32_t for__l_blocksize;    // FORT_BLOCKSIZE, a multiple of 512
extern int32_t for__l_buffercount;  // FORT_BUFFERCOUNT, 0 to 127
extern int32_t for__l_fmtrecl;      // FORT_FMT_RECL, 0 or more
extern int32_t for__l_ufmtrecl;     // FORT_UFMT_RECL, 0 or more

// Reads the four size settings, only while all four are still 0 (their state
// before the first run). Invalid values are not reported here; OPEN reports
// them when a file is connected.
void for__default_io_sizes_env_init();

// Seconds since the epoch at start-up; 0.0 until start-up has set it.
extern double for_process_start_time;
double for__process_start_time();

// Wall-clock seconds since the epoch, with sub-second resolution.
double for_since_epoch_t();

// The command line given to start-up.
extern int32_t for__l_argc;
extern char **for__a_argv;
