// The wrappers behind kit::fault. Everything on the call path is plain
// thread-local words and a fixed table: a wrapper of malloc must not
// allocate, and one of write must not write.
#include "support/fault.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
ssize_t __real_write(int, const void *, size_t);
ssize_t __real_pwrite(int, const void *, size_t, off_t);
ssize_t __real_writev(int, const struct iovec *, int);
ssize_t __real_read(int, void *, size_t);
ssize_t __real_pread(int, void *, size_t, off_t);
int __real_open(const char *, int, ...);
int __real_openat(int, const char *, int, ...);
int __real_mkostemp(char *, int);
void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void *__real_aligned_alloc(size_t, size_t);
char *__real_strdup(const char *);
void __real_free(void *);
void *__real__Znwm(size_t);
void __real__ZdlPv(void *);
void __real__ZdlPvm(void *, size_t);
}

namespace kit::fault {
namespace {

// The armed window of this thread. Plain words: no constructor runs on
// first use, so the wrappers are safe from the first call of a thread.
thread_local bool armed = false;
thread_local Plan plan{};
thread_local int counts[call_classes] = {};
thread_local bool hit = false;

// What a wrapper is to do with the call it is in.
enum class Act { pass, shorten, fail };

Act act(Call c) {
    if (!armed) return Act::pass;
    const int n = ++counts[static_cast<int>(c)];
    if (plan.call != c || plan.fault == Fault::none || plan.nth == 0) return Act::pass;
    if (n != plan.nth && !(plan.persist && n > plan.nth)) return Act::pass;
    hit = true;
    if (std::getenv("VORLIX_FAULT_TRACE")) {
        // Where the fault strikes, for a failure found by the sweep. The
        // trace may allocate: not counted, and never failed.
        armed = false;
        void *frames[32];
        const int n_frames = backtrace(frames, 32);
        backtrace_symbols_fd(frames, n_frames, STDERR_FILENO);
        armed = true;
    }
    switch (plan.fault) {
    case Fault::short_io: return Act::shorten;
    case Fault::enospc: errno = ENOSPC; break;
    case Fault::eio: errno = EIO; break;
    case Fault::eintr: errno = EINTR; break;
    case Fault::emfile: errno = EMFILE; break;
    default: errno = ENOMEM; break;
    }
    return Act::fail;
}

size_t shorter(size_t n) { return n > 1 ? n / 2 : n; }

// Blocks the armed thread allocated, removed when anyone frees them: an
// open-addressed table of fixed size under a spin lock (frees come from
// every thread). A full table stops tracking rather than allocate.
constexpr size_t table_size = 1 << 14;
struct Block {
    void *p;
    size_t n;
};
Block table[table_size];
std::atomic_flag table_lock = ATOMIC_FLAG_INIT;
// Read without the lock by every free: atomic.
std::atomic<int> live{0};
uint64_t bytes = 0;

struct Locked {
    Locked() {
        while (table_lock.test_and_set(std::memory_order_acquire)) {}
    }
    ~Locked() { table_lock.clear(std::memory_order_release); }
};

size_t slot_of(void *p) { return (reinterpret_cast<uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> 50; }

void track(void *p, size_t n) {
    if (!p || !armed) return;
    Locked l;
    for (size_t i = slot_of(p), k = 0; k < table_size; ++k, i = (i + 1) % table_size) {
        if (table[i].p == nullptr || table[i].p == reinterpret_cast<void *>(1)) {
            table[i] = {p, n};
            ++live;
            bytes += n;
            return;
        }
    }
}

void untrack(void *p) {
    if (!p || live.load(std::memory_order_relaxed) == 0) return;
    Locked l;
    for (size_t i = slot_of(p), k = 0; k < table_size; ++k, i = (i + 1) % table_size) {
        if (table[i].p == nullptr) return;
        if (table[i].p == p) {
            bytes -= table[i].n;
            --live;
            table[i].p = reinterpret_cast<void *>(1);  // a tombstone keeps later probes going
            return;
        }
    }
}

void clear_table() {
    Locked l;
    std::memset(static_cast<void *>(table), 0, sizeof table);
    live = 0;
    bytes = 0;
}

}  // namespace

const char *name(Call c) {
    switch (c) {
    case Call::write: return "write";
    case Call::read: return "read";
    case Call::open: return "open";
    default: return "alloc";
    }
}

const char *name(Fault f) {
    switch (f) {
    case Fault::none: return "none";
    case Fault::short_io: return "short";
    case Fault::enospc: return "enospc";
    case Fault::eio: return "eio";
    case Fault::eintr: return "eintr";
    case Fault::emfile: return "emfile";
    default: return "enomem";
    }
}

std::optional<Plan> parse(std::string_view t) {
    const size_t a = t.find(':'), b = a == t.npos ? t.npos : t.find(':', a + 1);
    if (b == t.npos) return std::nullopt;
    Plan p;
    bool call_ok = false, fault_ok = false;
    for (int c = 0; c < call_classes; ++c)
        if (t.substr(0, a) == name(static_cast<Call>(c))) p.call = static_cast<Call>(c), call_ok = true;
    for (int f = 0; f <= static_cast<int>(Fault::enomem); ++f)
        if (t.substr(a + 1, b - a - 1) == name(static_cast<Fault>(f))) p.fault = static_cast<Fault>(f), fault_ok = true;
    std::string n(t.substr(b + 1));
    if (!n.empty() && n.back() == '+') {
        p.persist = true;
        n.pop_back();
    }
    char *end = nullptr;
    const long v = std::strtol(n.c_str(), &end, 10);
    if (!call_ok || !fault_ok || n.empty() || *end != '\0' || v < 0 || v > 1000000000) return std::nullopt;
    p.nth = static_cast<int>(v);
    return p;
}

std::string text(const Plan &p) {
    return std::string(name(p.call)) + ":" + name(p.fault) + ":" + std::to_string(p.nth) + (p.persist ? "+" : "");
}

void arm(const Plan &p) {
    clear_table();
    plan = p;
    for (int &c : counts) c = 0;
    hit = false;
    armed = true;
}

void disarm() { armed = false; }
int calls(Call c) { return counts[static_cast<int>(c)]; }
bool fired() { return hit; }

int live_blocks() {
    Locked l;
    return live.load(std::memory_order_relaxed);
}
uint64_t live_bytes() {
    Locked l;
    return bytes;
}

std::optional<Plan> from_env() {
    const char *v = std::getenv("VORLIX_FAULT");
    return v ? parse(v) : std::nullopt;
}

}  // namespace kit::fault

using kit::fault::Act;
using kit::fault::act;
using kit::fault::Call;

extern "C" {

ssize_t __wrap_write(int fd, const void *p, size_t n) {
    switch (act(Call::write)) {
    case Act::fail: return -1;
    case Act::shorten: return __real_write(fd, p, kit::fault::shorter(n));
    default: return __real_write(fd, p, n);
    }
}

ssize_t __wrap_pwrite(int fd, const void *p, size_t n, off_t at) {
    switch (act(Call::write)) {
    case Act::fail: return -1;
    case Act::shorten: return __real_pwrite(fd, p, kit::fault::shorter(n), at);
    default: return __real_pwrite(fd, p, n, at);
    }
}

ssize_t __wrap_writev(int fd, const struct iovec *v, int count) {
    switch (act(Call::write)) {
    case Act::fail: return -1;
    case Act::shorten:
        // Half of the first piece is short whatever follows it.
        if (count > 0 && v[0].iov_len > 1) return __real_write(fd, v[0].iov_base, v[0].iov_len / 2);
        return __real_writev(fd, v, count);
    default: return __real_writev(fd, v, count);
    }
}

ssize_t __wrap_read(int fd, void *p, size_t n) {
    switch (act(Call::read)) {
    case Act::fail: return -1;
    case Act::shorten: return __real_read(fd, p, kit::fault::shorter(n));
    default: return __real_read(fd, p, n);
    }
}

ssize_t __wrap_pread(int fd, void *p, size_t n, off_t at) {
    switch (act(Call::read)) {
    case Act::fail: return -1;
    case Act::shorten: return __real_pread(fd, p, kit::fault::shorter(n), at);
    default: return __real_pread(fd, p, n, at);
    }
}

int __wrap_open(const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (act(Call::open) == Act::fail) return -1;
    return __real_open(path, flags, mode);
}

int __wrap_openat(int dir, const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (act(Call::open) == Act::fail) return -1;
    return __real_openat(dir, path, flags, mode);
}

int __wrap_mkostemp(char *templ, int flags) {
    if (act(Call::open) == Act::fail) return -1;
    return __real_mkostemp(templ, flags);
}

void *__wrap_malloc(size_t n) {
    if (act(Call::alloc) == Act::fail) return nullptr;
    void *p = __real_malloc(n);
    kit::fault::track(p, n);
    return p;
}

void *__wrap_calloc(size_t k, size_t n) {
    if (act(Call::alloc) == Act::fail) return nullptr;
    void *p = __real_calloc(k, n);
    kit::fault::track(p, k * n);
    return p;
}

void *__wrap_realloc(void *old, size_t n) {
    if (act(Call::alloc) == Act::fail) return nullptr;
    void *p = __real_realloc(old, n);
    if (p || n == 0) kit::fault::untrack(old);
    kit::fault::track(p, n);
    return p;
}

void *__wrap_aligned_alloc(size_t a, size_t n) {
    if (act(Call::alloc) == Act::fail) return nullptr;
    void *p = __real_aligned_alloc(a, n);
    kit::fault::track(p, n);
    return p;
}

char *__wrap_strdup(const char *s) {
    if (act(Call::alloc) == Act::fail) return nullptr;
    char *p = __real_strdup(s);
    kit::fault::track(p, std::strlen(s) + 1);
    return p;
}

void __wrap_free(void *p) {
    kit::fault::untrack(p);
    __real_free(p);
}

void *__wrap__Znwm(size_t n) {
    if (act(Call::alloc) == Act::fail) throw std::bad_alloc();
    void *p = __real__Znwm(n);
    kit::fault::track(p, n);
    return p;
}

void __wrap__ZdlPv(void *p) {
    kit::fault::untrack(p);
    __real__ZdlPv(p);
}

void __wrap__ZdlPvm(void *p, size_t n) {
    kit::fault::untrack(p);
    __real__ZdlPvm(p, n);
}

}  // extern "C"
