/* libvorlix: everything a compiler writer includes. */
#ifndef VORLIX_VORLIX_H
#define VORLIX_VORLIX_H
#include <vorlix/abi.h>
#include <vorlix/io.h>
#include <vorlix/cvt.h>
#include <vorlix/cvt_foreign.h>
#include <vorlix/diag.h>
#include <vorlix/runtime.h>
#include <vorlix/stop.h>
#endif
