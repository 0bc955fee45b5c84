// Start-up and the normal end of a compiled program.
#include <cstring>

#include <vorlix/runtime.h>

#include "caf/for_caf.h"
#include "diag/for_diag.h"
#include "runtime/for_env.h"
#include "runtime/for_exit_handler.h"
#include "runtime/for_once.h"
#include "runtime/for_reentrancy.h"
#include "runtime/for_signals.h"
#include "runtime/for_vm.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

namespace {
For_Once_Block rtl_init_once_block;
For_Once_Block reentrancy_init_once_block;
std::atomic<int> for__reentrancy_initialized{0};

int *init_argc;
char **init_argv;

void count_reentrancy_init() { for__reentrancy_initialized.fetch_add(1); }

// The part of start-up that runs once per process, whoever calls first.
void start_once() {
    void *p = nullptr;
    if (for__get_vm(sizeof(For_Excpt_Info), 0, &p) == 0) {
        std::memset(p, 0, sizeof(For_Excpt_Info));
        for__l_excpt_info = static_cast<For_Excpt_Info *>(p);
    }
    for__l_argc = init_argc ? *init_argc : 0;
    for__a_argv = init_argc ? init_argv : nullptr;
    for__install_signal_handlers();
    for__preconnected_units_create();
    for__default_io_sizes_env_init();
}
}  // namespace

// The unit table needs no clearing (it is zero-initialised and its slots
// are claimed atomically); what remains is to note that threads may run.
void for__reentrancy_init() { for__once_private(&reentrancy_init_once_block, count_reentrancy_init); }

VORLIX_API void for_rtl_init_(int *argc, char **argv) {
    if (for_process_start_time == 0.0) for_process_start_time = for_since_epoch_t();
    if (argc || argv) for__caf_init(argc, &argv);
    for__reentrancy_init();
    init_argc = argc;
    init_argv = argv;
    for__once_private(&rtl_init_once_block, start_once);
}

VORLIX_API int for_rtl_finish_(void) {
    const int status = for__shutdown();
    for__message_catalog_close();
    for__disable_signal_stack();
    return status;
}
