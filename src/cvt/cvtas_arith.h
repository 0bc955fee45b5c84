// Exact integer arithmetic of the decimal conversion engine.
//
// The engine never uses the floating-point unit: every conversion is done in
// integers, so no exception flag can be raised, no trap can fire and the
// caller's rounding mode is neither read nor changed.  Two kinds of numbers:
//   - fixed 256-bit products, for the fast paths (a 128-bit digit integer
//     times a 128-bit power of ten);
//   - Cvtas_Big, an unsigned integer of 64-bit limbs on caller-supplied
//     storage, for the exact decisions (the rare halfway and boundary cases,
//     and fields with thousands of digits).
#ifndef VORLIX_CVT_CVTAS_ARITH_H
#define VORLIX_CVT_CVTAS_ARITH_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using cvtas_u128 = unsigned __int128;

inline int cvtas_clz64(uint64_t x) { return x ? __builtin_clzll(x) : 64; }
inline int cvtas_clz128(cvtas_u128 x) {
    uint64_t hi = static_cast<uint64_t>(x >> 64);
    return hi ? __builtin_clzll(hi) : 64 + cvtas_clz64(static_cast<uint64_t>(x));
}

// A 256-bit unsigned integer, least significant word first.
struct Cvtas_U256 {
    uint64_t w[4];
};

inline Cvtas_U256 cvtas_mul_128x128(cvtas_u128 a, cvtas_u128 b) {
    const uint64_t a0 = static_cast<uint64_t>(a), a1 = static_cast<uint64_t>(a >> 64);
    const uint64_t b0 = static_cast<uint64_t>(b), b1 = static_cast<uint64_t>(b >> 64);
    const cvtas_u128 p00 = static_cast<cvtas_u128>(a0) * b0;
    const cvtas_u128 p01 = static_cast<cvtas_u128>(a0) * b1;
    const cvtas_u128 p10 = static_cast<cvtas_u128>(a1) * b0;
    const cvtas_u128 p11 = static_cast<cvtas_u128>(a1) * b1;
    Cvtas_U256 r;
    r.w[0] = static_cast<uint64_t>(p00);
    cvtas_u128 mid = (p00 >> 64) + static_cast<uint64_t>(p01) + static_cast<uint64_t>(p10);
    r.w[1] = static_cast<uint64_t>(mid);
    cvtas_u128 hi = (mid >> 64) + (p01 >> 64) + (p10 >> 64) + static_cast<uint64_t>(p11);
    r.w[2] = static_cast<uint64_t>(hi);
    r.w[3] = static_cast<uint64_t>((hi >> 64) + (p11 >> 64));
    return r;
}

// a + b; returns false on a carry out of bit 255.
inline bool cvtas_add256(Cvtas_U256 &a, const Cvtas_U256 &b) {
    unsigned char c = 0;
    for (int i = 0; i < 4; ++i) {
        cvtas_u128 s = static_cast<cvtas_u128>(a.w[i]) + b.w[i] + c;
        a.w[i] = static_cast<uint64_t>(s);
        c = static_cast<unsigned char>(s >> 64);
    }
    return c == 0;
}

inline Cvtas_U256 cvtas_u256_of(cvtas_u128 x) {
    return Cvtas_U256{{static_cast<uint64_t>(x), static_cast<uint64_t>(x >> 64), 0, 0}};
}

// x >> s, kept to its low 128 bits (callers shift so that the result fits).
inline cvtas_u128 cvtas_shr256(const Cvtas_U256 &x, int s) {
    if (s >= 256) return 0;
    const int q = s / 64, r = s % 64;
    uint64_t out[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const int j = q + i;
        if (j >= 4) break;
        uint64_t v = x.w[j] >> r;
        if (r && j + 1 < 4) v |= x.w[j + 1] << (64 - r);
        out[i] = v;
    }
    return (static_cast<cvtas_u128>(out[1]) << 64) | out[0];
}

// Whether any of the bits of x below bit s is set.
inline bool cvtas_low_bits256(const Cvtas_U256 &x, int s) {
    if (s <= 0) return false;
    if (s >= 256) return (x.w[0] | x.w[1] | x.w[2] | x.w[3]) != 0;
    const int q = s / 64, r = s % 64;
    for (int i = 0; i < q; ++i)
        if (x.w[i]) return true;
    return r && (x.w[q] << (64 - r)) != 0;
}

inline int cvtas_top_bit256(const Cvtas_U256 &x) {
    for (int i = 3; i >= 0; --i)
        if (x.w[i]) return 64 * i + 63 - __builtin_clzll(x.w[i]);
    return -1;
}

// Limb storage for Cvtas_Big: inline for the sizes of binary32 and binary64,
// heap for binary128's long tails and very wide F fields.
class Cvtas_Limbs {
  public:
    explicit Cvtas_Limbs(size_t count) : cap_(count) {
        if (count <= kInline) {
            p_ = inline_;
        } else {
            p_ = static_cast<uint64_t *>(std::malloc(count * sizeof(uint64_t)));
            heap_ = true;
        }
    }
    ~Cvtas_Limbs() {
        if (heap_) std::free(p_);
    }
    Cvtas_Limbs(const Cvtas_Limbs &) = delete;
    Cvtas_Limbs &operator=(const Cvtas_Limbs &) = delete;
    bool ok() const { return p_ != nullptr; }
    uint64_t *data() { return p_; }
    size_t size() const { return cap_; }

  private:
    static constexpr size_t kInline = 192;
    uint64_t inline_[kInline];
    uint64_t *p_ = nullptr;
    size_t cap_;
    bool heap_ = false;
};

// An unsigned integer of n limbs (no leading zero limbs when n > 0) on
// storage of cap limbs.  Every growing operation checks the capacity and
// reports false instead of writing past it; callers size the storage from
// bounds of the operands so that this never happens in practice.
class Cvtas_Big {
  public:
    Cvtas_Big(uint64_t *limbs, size_t cap) : l_(limbs), cap_(cap) {}

    void set(cvtas_u128 v) {
        n_ = 0;
        while (v) {
            l_[n_++] = static_cast<uint64_t>(v);
            v >>= 64;
        }
    }
    bool is_zero() const { return n_ == 0; }
    size_t limbs() const { return n_; }
    const uint64_t *data() const { return l_; }

    // this = this * m + add
    bool mul_add(uint64_t m, uint64_t add) {
        uint64_t carry = add;
        for (size_t i = 0; i < n_; ++i) {
            cvtas_u128 p = static_cast<cvtas_u128>(l_[i]) * m + carry;
            l_[i] = static_cast<uint64_t>(p);
            carry = static_cast<uint64_t>(p >> 64);
        }
        if (carry) {
            if (n_ == cap_) return false;
            l_[n_++] = carry;
        }
        return true;
    }

    bool mul_pow5(int k) {
        // 5^27 is the largest power of five in one limb.
        constexpr uint64_t kFive27 = 7450580596923828125u;
        for (; k >= 27; k -= 27)
            if (!mul_add(kFive27, 0)) return false;
        uint64_t m = 1;
        for (; k > 0; --k) m *= 5;
        return m == 1 || mul_add(m, 0);
    }

    bool shl(long bits) {
        if (n_ == 0 || bits == 0) return true;
        const size_t q = static_cast<size_t>(bits / 64);
        const int r = static_cast<int>(bits % 64);
        const size_t need = n_ + q + 1;
        if (need > cap_) return false;
        l_[n_ + q] = 0;
        for (size_t i = n_; i-- > 0;) {
            const uint64_t v = l_[i];
            if (r) {
                l_[i + q + 1] |= v >> (64 - r);
                l_[i + q] = v << r;
            } else {
                l_[i + q] = v;
            }
        }
        for (size_t i = 0; i < q; ++i) l_[i] = 0;
        n_ = n_ + q + 1;
        trim();
        return true;
    }

    // this >>= bits; reports whether the bit just below the cut (the half)
    // was set and whether any bit below that was set.
    void shr(long bits, bool &half, bool &below) {
        half = bit(bits - 1);
        below = any_below(bits - 1);
        const size_t q = static_cast<size_t>(bits / 64);
        const int r = static_cast<int>(bits % 64);
        if (q >= n_) {
            n_ = 0;
            return;
        }
        for (size_t i = q; i < n_; ++i) {
            uint64_t v = l_[i] >> r;
            if (r && i + 1 < n_) v |= l_[i + 1] << (64 - r);
            l_[i - q] = v;
        }
        n_ -= q;
        trim();
    }

    bool bit(long b) const {
        if (b < 0) return false;
        const size_t q = static_cast<size_t>(b / 64);
        return q < n_ && ((l_[q] >> (b % 64)) & 1);
    }
    bool any_below(long b) const {
        if (b <= 0) return false;
        const size_t q = static_cast<size_t>(b / 64);
        for (size_t i = 0; i < q && i < n_; ++i)
            if (l_[i]) return true;
        return q < n_ && (b % 64) && (l_[q] << (64 - b % 64)) != 0;
    }

    // this /= d; returns the remainder.
    uint64_t divmod(uint64_t d) {
        cvtas_u128 rem = 0;
        for (size_t i = n_; i-- > 0;) {
            const cvtas_u128 cur = (rem << 64) | l_[i];
            l_[i] = static_cast<uint64_t>(cur / d);
            rem = cur % d;
        }
        trim();
        return static_cast<uint64_t>(rem);
    }

    friend int cvtas_big_cmp(const Cvtas_Big &a, const Cvtas_Big &b) {
        if (a.n_ != b.n_) return a.n_ < b.n_ ? -1 : 1;
        for (size_t i = a.n_; i-- > 0;)
            if (a.l_[i] != b.l_[i]) return a.l_[i] < b.l_[i] ? -1 : 1;
        return 0;
    }

  private:
    void trim() {
        while (n_ > 0 && l_[n_ - 1] == 0) --n_;
    }
    uint64_t *l_;
    size_t cap_;
    size_t n_ = 0;
};

// Limbs needed for a number of the given bit length, with a margin for the
// carry limbs that the in-place operations use.
inline size_t cvtas_limbs_for_bits(long bits) { return static_cast<size_t>(bits / 64 + 4); }

#endif
