// Fault injection for tests: the library's system calls and allocations
// are routed through wrappers (the test binary links the library's archive
// with -Wl,--wrap=..., see vorlix_fault_wrap in tests/support/CMakeLists.txt)
// that count the calls of the armed thread and make its N-th call of one
// class fail or come up short, as a full disk, a dying device, a signal or
// an exhausted process would make it:
//
//   kit::fault::Armed a(kit::fault::parse("write:enospc:3"));
//   int ios = statement();          // the 3rd write(2)/pwrite(2) fails
//
// Only the thread that armed a plan is affected, so a watchdog thread, or a
// second thread running a follow-up statement, sees the real calls.
// Wrapping, unlike an interposed malloc, leaves the sanitizers' own
// allocator in place: the same harness runs under AddressSanitizer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kit::fault {

// The classes of calls counted apart.
enum class Call : uint8_t {
    write,  // write(2), pwrite(2), writev(2)
    read,   // read(2), pread(2)
    open,   // open(2), openat(2), mkostemp(3)
    alloc,  // malloc, calloc, realloc, aligned_alloc, strdup, operator new
};
constexpr int call_classes = 4;

enum class Fault : uint8_t {
    none,      // count only
    short_io,  // transfer half of what was asked (at least one byte)
    enospc,
    eio,
    eintr,  // fail with EINTR before transferring anything
    emfile,
    enomem,  // allocation returns null (operator new throws std::bad_alloc)
};

struct Plan {
    Call call = Call::write;
    Fault fault = Fault::none;
    int nth = 0;           // the call (1-based, of this class, since arming) to fail; 0: none
    bool persist = false;  // every later call of the class fails as well (a disk that stays full)
};

// "write:enospc:3", "read:eintr:1", "open:emfile:2", "alloc:enomem:5",
// "write:short:1"; a trailing "+" persists ("alloc:enomem:5+": the 5th and
// every later allocation fail); nullopt when the text is none of these.
std::optional<Plan> parse(std::string_view text);
std::string text(const Plan &p);
const char *name(Call c);
const char *name(Fault f);

// Arms `p` for the calling thread, counting from zero; disarm stops
// counting. calls() is the count of the armed (or last armed) window.
void arm(const Plan &p);
void disarm();
int calls(Call c);
// The planned fault was injected in the window.
bool fired();

// Blocks allocated by the armed thread in the window that are not freed
// yet (by any thread), and their bytes.
int live_blocks();
uint64_t live_bytes();

// The plan named by VORLIX_FAULT, when set (for running one case by hand;
// VORLIX_FAULT_TRACE=1 then prints the stack where the fault strikes).
std::optional<Plan> from_env();

// Arms for its lifetime.
class Armed {
  public:
    explicit Armed(const Plan &p) { arm(p); }
    ~Armed() { disarm(); }
    Armed(const Armed &) = delete;
    Armed &operator=(const Armed &) = delete;
};

}  // namespace kit::fault
