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

class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}

  // Appends the `length` low bits of `value` (length at most 27; no bits above them). The
  // 64-bit accumulator goes out whole, so the flush branch is taken about once every few
  // symbols only.
  void put(uint32_t value, int length) {
    if (length < free_) {
      acc_ = (acc_ << length) | value;
      free_ -= length;
      return;
    }
    const int over = length - free_;
    acc_ = (acc_ << free_) | (value >> over);
    flushWord(acc_);
    // Bits of `value` above the `over` still pending are shifted out before the next flush.
    acc_ = value;
    free_ = 64 - over;
  }

  // Codes one block of coefficients (T.81 F.1.2): the DC difference against
  // `predictor`, which then becomes the block's DC value, then the AC coefficients in
  // zigzag order with zero runs, ZRL for each 16 zeros and EOB unless the last
  // coefficient is non-zero.
  // `zigzag` is the block in zigzag order and `nonZero` the mask of its non-zero AC
  // coefficients (bit k for zigzag[k]).
  void block(const int16_t* zigzag, uint64_t nonZero, int& predictor, const uint32_t* dcCodes,
             const uint32_t* acCodes) {
    const int dc = zigzag[0];
    const int diff = dc - predictor;
    predictor = dc;
    putValue(dcCodes, 0, diff);

    int last = 0;
    while (nonZero != 0) {
      const int k = __builtin_ctzll(nonZero);
      nonZero &= nonZero - 1;
      int run = k - last - 1;
      while (run >= 16) {
        putCode(acCodes[0xF0]);
        run -= 16;
      }
      putValue(acCodes, run << 4, zigzag[k]);
      last = k;
    }
    if (last != 63) putCode(acCodes[0x00]);
  }

  // The same pending bits, continuing at `out`.
  BitWriter redirected(uint8_t* out) const {
    BitWriter w(out);
    w.acc_ = acc_;
    w.free_ = free_;
    return w;
  }

  // End of the bytes written so far (up to 63 bits may still be pending).
  uint8_t* position() const { return out_; }

  // Completes the last byte with one bits and returns the end of the data.
  uint8_t* finish() {
    int count = 64 - free_;
    while (count >= 8) {
      count -= 8;
      emit(static_cast<uint8_t>(acc_ >> count));
    }
    if (count > 0) {
      const int pad = 8 - count;
      emit(static_cast<uint8_t>((acc_ << pad) | ((1u << pad) - 1)));
    }
    free_ = 64;
    return out_;
  }

 private:
  void putCode(uint32_t code) { put(code & 0xFFFF, static_cast<int>(code >> 16)); }

  // Symbol (run << 4 | size) followed by the value's extra bits: the value itself when
  // positive, value - 1 when negative, masked to its size.
  void putValue(const uint32_t* codes, int runBits, int value) {
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
    const uint32_t code = codes[runBits | size];
    const int codeLength = static_cast<int>(code >> 16);
    put(((code & 0xFFFF) << size) | extra, codeLength + size);
  }

  void emit(uint8_t byte) {
    *out_++ = byte;
    if (byte == 0xFF) *out_++ = 0;
  }

  void flushWord(uint64_t w) {
    // Fast path when no byte is 0xFF (no stuffing needed).
    const uint64_t inverted = ~w;
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      const uint64_t bigEndian = __builtin_bswap64(w);
      __builtin_memcpy(out_, &bigEndian, 8);
      out_ += 8;
    } else {
      for (int shift = 56; shift >= 0; shift -= 8) emit(static_cast<uint8_t>(w >> shift));
    }
  }

  uint8_t* out_;
  uint64_t acc_ = 0;
  int free_ = 64;  // bits still free in acc_
};

}  // namespace
}  // namespace jpegpress
