#pragma once

// Entropy coding of quantised blocks straight into the output buffer, with byte stuffing.

#include <cassert>
#include <cstdint>
#if defined(__BMI2__)
#include <immintrin.h>
#endif


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
  void putValue(const uint64_t* codes, int runBits, int value) {
    const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    const int size = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
    assert(size <= 11);
#if defined(__BMI2__)
    // Where BMI2 is there (the AVX2 table's copy of the coder), one instruction cuts the
    // bits: measured faster than building the mask.
    const uint32_t extra =
        _bzhi_u32(static_cast<uint32_t>(value) - (static_cast<uint32_t>(value) >> 31), size);
#else
    const uint32_t extra = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1);
#endif
    putCode(codes[runBits | size], extra);
  }

  void emit(uint8_t byte) {
    *out++ = byte;
    if (byte == 0xFF) *out++ = 0;
  }

  void flushWord(uint64_t w) {
    // Fast path when no byte is 0xFF (no stuffing needed).
    const uint64_t inverted = ~w;
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
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
  // `zigzag` is the block in zigzag order and `nonZero` the mask of its non-zero AC
  // coefficients (bit k for zigzag[k]). The code tables are the encoder's (see BitState).
  void block(const int16_t* zigzag, uint64_t nonZero, int& predictor, const uint64_t* dcCodes,
             const uint64_t* acCodes) {
    BitState s = state_;
    const int dc = zigzag[0];
    const int diff = dc - predictor;
    predictor = dc;
    s.putValue(dcCodes, 0, diff);

    int last = 0;
    while (nonZero != 0) {
      const int k = __builtin_ctzll(nonZero);
      nonZero &= nonZero - 1;
      int run = k - last - 1;
      while (run >= 16) {
        s.putCode(acCodes[0xF0]);
        run -= 16;
      }
      s.putValue(acCodes, run << 4, zigzag[k]);
      last = k;
    }
    if (last != 63) s.putCode(acCodes[0x00]);
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
