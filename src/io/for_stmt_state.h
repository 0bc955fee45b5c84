// The state of the one statement running on a unit: what the statement
// set up for its own length (its IOMSG=, SIZE= and ADVANCE= targets, the
// connection modes its control list overrode, where its record position
// counts from, and the state of its transfer) and gives back when it ends.
// The unit block holds it (lub_stmt) beside what belongs to the connection;
// all of it is zero while no statement runs.
//
// A child data transfer of defined I/O runs on its parent's unit while the
// parent's statement is still open: it moves the parent's object aside into
// its own frame (for__stmt_suspend), runs its statement on a fresh one, and
// moves the parent's back (for__stmt_resume).
#pragma once
#include <cassert>
#include <cstdint>
#include <cstring>

#include "format/for_fmt_isb.h"
#include "listdir/for_ldir_state.h"

// Which connection modes the control list overrode (For_Stmt_Modes::overridden).
namespace stmo {
constexpr uint8_t blank = 1u << 0;
constexpr uint8_t decimal = 1u << 1;
constexpr uint8_t delim = 1u << 2;
constexpr uint8_t pad = 1u << 3;
constexpr uint8_t round = 1u << 4;
constexpr uint8_t sign = 1u << 5;
}  // namespace stmo

// The unit's own values of the modes the statement overrode, put back when
// it ends. Only the modes named in `overridden` hold a value.
struct For_Stmt_Modes {
    uint8_t overridden;  // stmo:: bits
    bool blank_null;     // BLANK='NULL' (lubf::blank_null)
    bool pad;            // PAD='YES' (lubf::pad)
    uint8_t decimal;
    uint8_t delim;
    uint8_t round;
    uint8_t sign;
};

// The state a transfer carries over its calls, one alternative per form of
// transfer. Each form selects its alternative when its statement begins
// (which clears it); the statement's release gives back what it holds.
class For_Xfer_State {
  public:
    enum class Kind : uint8_t { none, formatted, ldir_in, ldir_out };

    Kind kind() const { return kind_; }

    For_Fmt_Isb &begin_formatted() { return begin(Kind::formatted, u_.fmt); }
    For_Ldir_In_State &begin_ldir_in() { return begin(Kind::ldir_in, u_.ldir_in); }
    For_Ldir_Out_State &begin_ldir_out() { return begin(Kind::ldir_out, u_.ldir_out); }

    // The alternative the running statement selected.
    For_Fmt_Isb &formatted() { return get(Kind::formatted, u_.fmt); }
    For_Ldir_In_State &ldir_in() { return get(Kind::ldir_in, u_.ldir_in); }
    For_Ldir_Out_State &ldir_out() { return get(Kind::ldir_out, u_.ldir_out); }

    // Null unless the formatted alternative is selected.
    For_Fmt_Isb *if_formatted() { return kind_ == Kind::formatted ? &u_.fmt : nullptr; }

    void clear() { kind_ = Kind::none; }

  private:
    template <class T>
    T &begin(Kind k, T &alt) {
        kind_ = k;
        std::memset(static_cast<void *>(&alt), 0, sizeof alt);
        return alt;
    }
    template <class T>
    T &get([[maybe_unused]] Kind k, T &alt) {
        assert(kind_ == k);
        return alt;
    }

    union Alternatives {
        For_Fmt_Isb fmt;
        For_Ldir_In_State ldir_in;
        For_Ldir_Out_State ldir_out;
    } u_;
    Kind kind_;
};

struct For_Stmt_State {
    char *iomsg_addr;  // IOMSG= variable, null when none
    uint64_t iomsg_len;
    void *size_addr;    // SIZE= variable of a non-advancing READ, null when none
    uint64_t size_len;  // its byte size
    // Record position that T and TL count from: where the statement began
    // on its record, 0 once it moved on to a record of its own.
    uint64_t tab_base;
    bool nonadvancing;  // ADVANCE='NO'
    bool direct;        // a transfer by record number (REC=, REWRITE)
    // REWRITE of a sequential unit: the READ before it left a record
    // (record_read); the statement rebuilds it in place (seq_rewrite, the
    // record's place in the unit's lub_rewrite_... fields).
    bool record_read;
    bool seq_rewrite;
    For_Stmt_Modes saved;
    For_Xfer_State xfer;

    // A statement begins: no targets until its control list gives them.
    void begin() {
        iomsg_addr = nullptr;
        iomsg_len = 0;
        size_addr = nullptr;
        size_len = 0;
        tab_base = 0;
        nonadvancing = false;
        direct = false;
        record_read = false;
        seq_rewrite = false;
    }

    // SIZE= counts the characters data edits take from records; it starts
    // at zero with the statement's first record.
    void clear_size() {
        if (size_addr) std::memset(size_addr, 0, size_bytes());
    }
    void add_size(int64_t n) {
        if (!size_addr || n == 0) return;
        int64_t v = 0;
        const size_t len = size_bytes();
        std::memcpy(&v, size_addr, len);
        v = len == 1   ? static_cast<int8_t>(v)
            : len == 2 ? static_cast<int16_t>(v)
            : len == 4 ? static_cast<int32_t>(v)
                       : v;
        v += n;
        std::memcpy(size_addr, &v, len);
    }

  private:
    size_t size_bytes() const { return static_cast<size_t>(size_len > 8 ? 8 : size_len); }
};
// The unit block is 856 bytes with room kept for facilities still to come:
// the statement's part of it stays small.
static_assert(sizeof(For_Stmt_State) <= 272, "the statement state lives in the unit block");
