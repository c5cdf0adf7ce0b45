#pragma once

// Entropy coding of quantised blocks straight into the output buffer, with byte stuffing.

#include <cassert>
#include <cstddef>
#include <cstdint>
#if defined(__BMI2__) && defined(__LZCNT__)
#include <immintrin.h>
#endif

#include "tables.h"

namespace jpegpress {
// Internal linkage: each translation unit that codes (one per instruction set, see
// scan_body.h) has its own copy.
namespace {

// The writer's state. The block coder works on a local copy of it, so that the accumulator,
// its free-bit count and the output pointer stay in registers for the whole block.
struct BitState {
  uint8_t* out;
  uint64_t acc;
  int free;  // bits still free in acc

  // Appends the `length` low bits of `value` (length at most 27; no bits above them). The
  // 64-bit accumulator goes out whole, so the flush branch is taken about once every few
  // symbols only.
  void put(uint32_t value, int length) {
    if (length < free) {
      acc = (acc << length) | value;
      free -= length;
      return;
    }
    const int over = length - free;
    acc = (acc << free) | (value >> over);
    flushWord(acc);
    // Bits of `value` above the `over` still pending are shifted out before the next flush.
    acc = value;
    free = 64 - over;
  }

  // A code of the tables built by the encoder (the code shifted left by the symbol's size
  // in the low half, the total length in the high half) followed by `extra`.
  void putCode(uint64_t code, uint32_t extra = 0) {
    put(static_cast<uint32_t>(code) | extra, static_cast<int>(code >> 32));
  }

  // Symbol (run << 4 | size) followed by the value's extra bits: the value itself when
  // positive, value - 1 when negative, masked to its size.
  void putValue(const uint64_t* codes, ptrdiff_t runBits, int value) {
#if defined(__BMI2__) && defined(__LZCNT__)
    // The AVX2 table's copy: `bits` is the value, less one when negative (its extra bits
    // before the cut) and `bits ^ sign` its magnitude, whose leading zeros are 32 - size
    // (32 for a zero difference). No branch, no mask built, and the table index needs no
    // separate size.
    const uint32_t sign = static_cast<uint32_t>(value >> 31);
    const uint32_t bits = static_cast<uint32_t>(value) + sign;
    const ptrdiff_t zeros = _lzcnt_u32(bits ^ sign);
    const uint32_t extra = (bits << (zeros & 31)) >> (zeros & 31);
    putCode(codes[runBits - zeros + 32], extra);
#else
    const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    const ptrdiff_t size = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
    assert(size <= 11);
    const uint32_t extra = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1);
    putCode(codes[runBits | size], extra);
#endif
  }

  void emit(uint8_t byte) {
    *out++ = byte;
    if (byte == 0xFF) *out++ = 0;
  }

  void flushWord(uint64_t w) {
    // Fast path when no byte is 0xFF (no stuffing needed).
#if defined(__BMI2__) && defined(__LZCNT__)
    // The AVX2 table's copy compares the bytes in a vector register: the two 64-bit
    // constants of the scalar test would hold two general registers in the coder's loop.
    const __m128i bytes = _mm_cvtsi64_si128(static_cast<long long>(w));
    const bool noFF = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(-1))) == 0;
#else
    const uint64_t inverted = ~w;
    const bool noFF = ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0;
#endif
    if (noFF) {
      const uint64_t bigEndian = __builtin_bswap64(w);
      __builtin_memcpy(out, &bigEndian, 8);
      out += 8;
    } else {
      for (int shift = 56; shift >= 0; shift -= 8) emit(static_cast<uint8_t>(w >> shift));
    }
  }
};

class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : state_{out, 0, 64} {}

  // Codes one block of coefficients (T.81 F.1.2): the DC difference against
  // `predictor`, which then becomes the block's DC value, then the AC coefficients in
  // zigzag order with zero runs, ZRL for each 16 zeros and EOB unless the last
  // coefficient is non-zero.
  // `coefficients` is the block in zigzag order or, with kColumnMajor, the quantised block
  // as the DCT left it (read through kZigzagToColumnMajor); `nonZero` is the mask of its
  // non-zero AC coefficients (bit k for zigzag position k). The code tables are the
  // encoder's (see BitState).
  template <bool kColumnMajor = false>
  void block(const int16_t* coefficients, uint64_t nonZero, int& predictor,
             const uint64_t* dcCodes, const uint64_t* acCodes) {
    BitState s = state_;
    const int dc = coefficients[0];
    const int diff = dc - predictor;
    predictor = dc;
    s.putValue(dcCodes, 0, diff);

    ptrdiff_t next = 1;  // zigzag position after the last coded coefficient
    while (nonZero != 0) {
      const ptrdiff_t k = __builtin_ctzll(nonZero);
      nonZero &= nonZero - 1;
      ptrdiff_t run = k - next;
      while (run >= 16) {
        s.putCode(acCodes[0xF0]);
        run -= 16;
      }
      s.putValue(acCodes, run << 4,
                 coefficients[kColumnMajor ? kZigzagToColumnMajor[k] : k]);
      next = k + 1;
    }
    if (next != 64) s.putCode(acCodes[0x00]);
    state_ = s;
  }

  // The same pending bits, continuing at `out`.
  BitWriter redirected(uint8_t* out) const {
    BitWriter w(out);
    w.state_.acc = state_.acc;
    w.state_.free = state_.free;
    return w;
  }

  // End of the bytes written so far (up to 63 bits may still be pending).
  uint8_t* position() const { return state_.out; }

  // Completes the last byte with one bits and returns the end of the data.
  uint8_t* finish() {
    int count = 64 - state_.free;
    while (count >= 8) {
      count -= 8;
      state_.emit(static_cast<uint8_t>(state_.acc >> count));
    }
    if (count > 0) {
      const int pad = 8 - count;
      state_.emit(static_cast<uint8_t>((state_.acc << pad) | ((1u << pad) - 1)));
    }
    state_.free = 64;
    return state_.out;
  }

 private:
  BitState state_;
};

}  // namespace
}  // namespace jpegpress
