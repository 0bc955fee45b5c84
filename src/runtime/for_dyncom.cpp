#include "runtime/for_dyncom.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "runtime/for_vm.h"

std::atomic<for_ftn_alloc_routine> the_ftn_alloc_routine{nullptr};
std::mutex for__protect_dyncom;

VORLIX_API for_ftn_alloc_routine for__set_ftn_alloc(for_ftn_alloc_routine routine) {
    return the_ftn_alloc_routine.exchange(routine, std::memory_order_acq_rel);
}

int default_FTN_ALLOC(void **address, int64_t *size) {
    int status = for__get_vm(*size, 0, address);
    if (status != 0) *size = 0;
    return status;
}

int do_ftn_alloc(void **address, int64_t *size, const char *name) {
    if (for_ftn_alloc_routine routine = the_ftn_alloc_routine.load(std::memory_order_acquire))
        return routine(address, size, name);
    if (_FTN_ALLOC) return _FTN_ALLOC(address, size, name);
    return default_FTN_ALLOC(address, size);
}

namespace {

struct Dyncom_Node {
    Dyncom_Node *next;
    char *name;
    int64_t size;
    void *address;
};

constexpr int bucket_count = 128;
constexpr size_t max_alloc_name = 255;
Dyncom_Node *buckets[bucket_count];  // guarded by for__protect_dyncom

int bucket_of(const char *name) {
    size_t n = std::strlen(name);
    if (n == 0) return 0;
    auto first = static_cast<unsigned char>(name[0]);
    auto last = static_cast<unsigned char>(name[n - 1]);
    return static_cast<int>((n + first + last) % bucket_count);
}

enum class Dyncom_Fault { none, allocation_failure = 1, inconsistent_size = 2 };

struct Dyncom_Failure {
    Dyncom_Fault fault = Dyncom_Fault::none;
    const char *name = "";
    int64_t current = 0;
    int64_t requested = 0;
};

void copy_text(char (&to)[256], const char *from) { std::snprintf(to, sizeof to, "%s", from); }

// The report is printed before the severe 585 so that the reader learns which
// block and which procedure; 585 itself only says that nothing was allocated.
void print_report(const Dyncom_Failure &f, const char *procedure) {
    char prefix[256], what[256], name[256], current[32], requested[32];
    copy_text(prefix, for__get_msg(msg::header_plain, 0));
    copy_text(what, for__get_msg(msg::dyncom_error + static_cast<int>(f.fault), 0));
    copy_text(name, f.name);
    std::snprintf(current, sizeof current, "%" PRId64, f.current);
    std::snprintf(requested, sizeof requested, "%" PRId64, f.requested);
    std::fprintf(stderr, "\n%s\n", for__get_msg(msg::dyncom_error, 2, prefix, what));
    if (f.fault == Dyncom_Fault::allocation_failure) {
        std::fprintf(stderr, "%s\n", for__get_msg(msg::dyncom_alloc_failed, 3, name, requested, procedure));
    } else {
        std::fprintf(stderr, "%s\n", for__get_msg(msg::dyncom_current_size, 2, name, current));
        std::fprintf(stderr, "%s\n", for__get_msg(msg::dyncom_declared_size, 2, procedure, requested));
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

Dyncom_Node *find_block(const char *name) {
    for (Dyncom_Node *n = buckets[bucket_of(name)]; n; n = n->next)
        if (std::strcmp(n->name, name) == 0) return n;
    return nullptr;
}

// Creates the block and its node; the node is linked only once the area
// exists, so a failed request leaves no trace in the table.
Dyncom_Node *create_block(const char *name, int64_t size, bool fill) {
    // Multiples of 8 keep every block aligned for any numeric item; an empty
    // block still gets 8 bytes so that it has an address of its own.
    int64_t wanted = size <= 0 ? 8 : (size + 7) & ~int64_t{7};
    char alloc_name[max_alloc_name + 1];
    std::snprintf(alloc_name, sizeof alloc_name, "%s", name);
    void *area = nullptr;
    int64_t given = wanted;
    do_ftn_alloc(&area, &given, alloc_name);
    if (!area || given < wanted) return nullptr;

    size_t name_len = std::strlen(name);
    void *node_mem = nullptr, *name_mem = nullptr;
    if (for__get_vm(sizeof(Dyncom_Node), 0, &node_mem) != 0 ||
        for__get_vm(static_cast<int64_t>(name_len + 1), 0, &name_mem) != 0) {
        for__free_vm(node_mem);
        return nullptr;  // the area stays with its allocator: it may not be ours to free
    }
    std::memcpy(name_mem, name, name_len + 1);
    auto *node = static_cast<Dyncom_Node *>(node_mem);
    *node = Dyncom_Node{nullptr, static_cast<char *>(name_mem), given, area};

    Dyncom_Node **tail = &buckets[bucket_of(name)];
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    if (fill) std::memset(area, for__dyncom_fill_byte, static_cast<size_t>(wanted));
    return node;
}

Dyncom_Failure bind_block(const For_Dyncom_Request &r, bool fill) {
    const char *name = r.name ? r.name : "";
    if (r.size < 0) return {Dyncom_Fault::allocation_failure, name, 0, r.size};
    if (Dyncom_Node *n = find_block(name)) {
        if (r.size > n->size) return {Dyncom_Fault::inconsistent_size, name, n->size, r.size};
        *r.address = n->address;
        return {};
    }
    Dyncom_Node *n = create_block(name, r.size, fill);
    if (!n) return {Dyncom_Fault::allocation_failure, name, 0, r.size};
    *r.address = n->address;
    return {};
}

}  // namespace

VORLIX_API void f90_dyncom(const void *request_list) {
    if (!request_list) return;
    const auto *list = static_cast<const For_Dyncom_List *>(request_list);
    const auto *requests = reinterpret_cast<const For_Dyncom_Request *>(list + 1);
    const char *procedure = list->procedure ? list->procedure : "";
    bool fill = (list->flags & for__dyncom_fill_flag) != 0;

    std::unique_lock lock(for__protect_dyncom);
    for (int64_t i = 0; i < list->count; ++i) {
        Dyncom_Failure f = bind_block(requests[i], fill);
        if (f.fault == Dyncom_Fault::none) continue;
        print_report(f, procedure);  // under the lock: two reports never interleave
        lock.unlock();
        for__issue_diagnostic(msg::array_not_allocated, 0);
        return;
    }
}
