#pragma once

// Entropy coding of quantised blocks straight into the output buffer, with byte stuffing.

#include <cassert>
#include <cstdint>


namespace jpegpress {

class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}

  // Appends the `length` low bits of `value` (length at most 27).
  void put(uint32_t value, int length) {
    acc_ = (acc_ << length) | value;
    count_ += length;
    if (count_ >= 32) {
      count_ -= 32;
      flushWord(static_cast<uint32_t>(acc_ >> count_));
    }
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
    w.count_ = count_;
    return w;
  }

  // End of the bytes written so far (up to 7 bytes of bits may still be pending).
  uint8_t* position() const { return out_; }

  // Completes the last byte with one bits and returns the end of the data.
  uint8_t* finish() {
    while (count_ >= 8) {
      count_ -= 8;
      emit(static_cast<uint8_t>(acc_ >> count_));
    }
    if (count_ > 0) {
      const int pad = 8 - count_;
      emit(static_cast<uint8_t>((acc_ << pad) | ((1u << pad) - 1)));
      count_ = 0;
    }
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
    const uint32_t extra = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1);
    const uint32_t code = codes[runBits | size];
    const int codeLength = static_cast<int>(code >> 16);
    put(((code & 0xFFFF) << size) | extra, codeLength + size);
  }

  void emit(uint8_t byte) {
    *out_++ = byte;
    if (byte == 0xFF) *out_++ = 0;
  }

  void flushWord(uint32_t w) {
    // Fast path when no byte is 0xFF (no stuffing needed).
    const uint32_t inverted = ~w;
    if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
      out_[0] = static_cast<uint8_t>(w >> 24);
      out_[1] = static_cast<uint8_t>(w >> 16);
      out_[2] = static_cast<uint8_t>(w >> 8);
      out_[3] = static_cast<uint8_t>(w);
      out_ += 4;
    } else {
      emit(static_cast<uint8_t>(w >> 24));
      emit(static_cast<uint8_t>(w >> 16));
      emit(static_cast<uint8_t>(w >> 8));
      emit(static_cast<uint8_t>(w));
    }
  }

  uint8_t* out_;
  uint64_t acc_ = 0;
  int count_ = 0;
};

}  // namespace jpegpress
