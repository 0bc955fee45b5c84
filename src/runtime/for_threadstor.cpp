#include "runtime/for_threadstor.h"

#include "runtime/for_vm.h"
#include "units/for_lub_mgt.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

// initial-exec: these are read on every statement; the library is loaded
// with the program, so the static TLS model is available and avoids a call.
thread_local uint32_t for__tls_tid __attribute__((tls_model("initial-exec"))) = 0;
thread_local For_Thread_Storage for__tls_storage __attribute__((tls_model("initial-exec"))) = {};

For_Static_Storage for__static_threadstor_private = {0, {2147483562u, 2147483398u}, {}};

void For_Thread_Storage::release() {
    for__free_vm(ifile_spare);
    ifile_spare = nullptr;
    for (Cached_Unit &c : unit_cache) {
        if (c.lub) for__lub_unpin(c.lub);
        c.lub = nullptr;
    }
    cleanup_armed = false;
}

namespace {
For_Thread_Exit storage_exit;
}  // namespace

void for__arm_thread_exit(For_Thread_Exit &exit, void (*release)(void *), void *object) {
    std::call_once(exit.once, [&] { pthread_key_create(&exit.key, release); });
    pthread_setspecific(exit.key, object);
}

void for__thread_storage_owns(For_Thread_Storage &ts) {
    if (ts.cleanup_armed) return;
    ts.cleanup_armed = true;
    for__arm_thread_exit(
        storage_exit, [](void *p) { static_cast<For_Thread_Storage *>(p)->release(); }, &ts);
}

namespace {
// A forked child is a new thread of its own: forget the parent's id.
void forget_tid_in_child() { for__tls_tid = 0; }
[[maybe_unused]] const int atfork_registered = pthread_atfork(nullptr, nullptr, forget_tid_in_child);
}  // namespace

uint32_t for__thread_id_slow() {
    auto t = static_cast<uint32_t>(syscall(SYS_gettid));
    for__tls_tid = t;
    return t;
}
