// Every SIMD kernel gives exactly the bytes of its portable twin.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoder.h"
#include "jpeg_test_support.h"
#include "kernels.h"

namespace jpegpress {
namespace {

using namespace jpegpress::testing;

// Runs `check` for every SIMD table this processor supports.
template <typename Check>
void forEachSimd(Check check) {
  const auto tables = supportedSimdKernels();
  if (tables.empty()) GTEST_SKIP() << "no SIMD kernels on this processor";
  for (const KernelTable* t : tables) {
    SCOPED_TRACE(t->name);
    check(t);
  }
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(Kernels, ActiveTableFollowsTheEnvironment) {
  const char* force = std::getenv("VISTREL_JPEGPRESS_PORTABLE");
  const bool forced = force != nullptr && force[0] != '\0' && std::strcmp(force, "0") != 0;
  const KernelTable* simd = simdKernels();
  const std::string expected = forced || simd == nullptr ? "portable" : simd->name;
  EXPECT_EQ(activeKernels().name, expected);
  std::printf("active kernels: %s\n", activeKernels().name);
}

TEST(Kernels, ConversionsMatchOnRandomInput) {
  forEachSimd([&](const KernelTable* simd) {
  const KernelTable& portable = portableKernels();
  // Source areas inside a larger random frame, with an odd stride to catch alignment
  // assumptions.
  const int stride = 16 * 3 * 3 + 5;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const auto frame = randomBytes(static_cast<size_t>(stride) * 40, seed);
    for (int layout = 0; layout < kLayoutCount; ++layout) {
      for (int area = 0; area < kAreaCount; ++area) {
        ASSERT_EQ(portable.convert[layout][area] == nullptr, simd->convert[layout][area] == nullptr);
        if (portable.convert[layout][area] == nullptr) continue;
        SourceArea sa{};
        const int offset = static_cast<int>(seed % 7);
        sa.plane[0] = frame.data() + offset;
        sa.plane[1] = frame.data() + 20 * stride + offset;
        sa.plane[2] = frame.data() + 30 * stride + 1;
        sa.stride[0] = stride;
        sa.stride[1] = stride / 2;
        alignas(32) int16_t a[6 * 64], b[6 * 64];
        std::memset(a, 0x55, sizeof a);
        std::memset(b, 0x55, sizeof b);
        portable.convert[layout][area](sa, a);
        simd->convert[layout][area](sa, b);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "layout " << layout << " area " << area;
      }
    }
  }
  });
}

TEST(Kernels, ForwardDctMatchesForEveryQuality) {
  forEachSimd([&](const KernelTable* simd) {
  std::mt19937 rng(7);
  JpegEncoder* e = nullptr;
  createEncoder(&e);
  ASSERT_NE(e, nullptr);
  for (uint32_t q = 1; q <= 100; ++q) {
    setQuality(e, q);
    for (int n = 0; n < 50; ++n) {
      alignas(32) int16_t a[64], b[64];
      // Extremes, flat blocks, random ones and the sign patterns of low frequencies (u, v),
      // whose coefficients are the largest before quantisation (about 26000 at (1, 1)).
      const int kind = n % 5;
      const int fu = 1 + n / 5 % 3, fv = 1 + n / 15 % 3;
      for (int i = 0; i < 64; ++i) {
        int v = static_cast<int>(rng() % 256) - 128;
        if (kind == 1) v = (i + i / 8) % 2 ? 127 : -128;
        if (kind == 2) v = n % 8 < 4 ? -128 : 127;
        if (kind == 3) {
          const double across = std::cos((2 * (i % 8) + 1) * fu * M_PI / 16);
          const double down = std::cos((2 * (i / 8) + 1) * fv * M_PI / 16);
          v = across * down > 0 ? 127 : -128;
        }
        a[i] = b[i] = static_cast<int16_t>(v);
      }
      const uint16_t* recip = n % 2 ? e->lumaReciprocal : e->chromaReciprocal;
      alignas(32) int16_t c[64], d[64];
      std::memcpy(c, a, sizeof a);
      for (int i = 0; i < 64; ++i) d[i] = static_cast<int16_t>(a[63 - i]);
      alignas(32) int16_t dPortable[64];
      std::memcpy(dPortable, d, sizeof d);
      portableKernels().forwardDct(a, recip);
      simd->forwardDct(b, recip);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "quality " << q << " block " << n;
      // Two blocks at once: each as alone.
      simd->forwardDct2(c, d, recip);
      portableKernels().forwardDct(dPortable, recip);
      ASSERT_EQ(0, std::memcmp(a, c, sizeof a)) << "quality " << q << " block " << n;
      ASSERT_EQ(0, std::memcmp(dPortable, d, sizeof d)) << "quality " << q << " block " << n;
    }
  }
  destroyEncoder(e);
  });
}

TEST(Kernels, ZigzagAndMaskMatch) {
  forEachSimd([&](const KernelTable* simd) {
    std::mt19937 rng(5);
    // Values whose low byte is zero and the extremes as well (a kernel that narrows the
    // coefficients to bytes must still see them as non-zero).
    const int16_t wide[] = {256, -256, 512, -32768, 32767, 128, -129, 1, -1};
    for (int n = 0; n < 300; ++n) {
      alignas(32) int16_t block[64];
      for (int i = 0; i < 64; ++i) {
        const bool set = rng() % 3 == 0;
        const int16_t value = n < 200 ? static_cast<int16_t>(rng() % 2001 - 1000) : wide[rng() % 9];
        block[i] = set ? value : 0;
      }
      alignas(16) int16_t a[64], b[64];
      const uint64_t ma = portableKernels().zigzag(block, a);
      const uint64_t mb = simd->zigzag(block, b);
      ASSERT_EQ(ma, mb);
      if (simd->zigzagMask != nullptr) {
        ASSERT_EQ(ma, simd->zigzagMask(block));
      }
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a));
      for (int k = 0; k < 64; ++k) ASSERT_EQ(a[k], block[kZigzag.columnMajor[k]]);
      for (int k = 1; k < 64; ++k) ASSERT_EQ((ma >> k) & 1, uint64_t(a[k] != 0));
      ASSERT_EQ(ma & 1, 0u);
    }
  });
}

TEST(Kernels, TurnedDctsMatchTurnThenDct) {
  // The portable turns themselves, on one sample each.
  alignas(32) int16_t in[64], a[64], b[64], c[64];
  for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(i * 37 - 1000);
  turnBlockPortable(1, in, a);
  EXPECT_EQ(a[0 * 8 + 0], in[0 * 8 + 7]);  // out[r][c] = in[c][7-r]
  EXPECT_EQ(a[7 * 8 + 2], in[2 * 8 + 0]);
  turnBlockPortable(3, in, a);
  EXPECT_EQ(a[0 * 8 + 0], in[7 * 8 + 0]);  // out[r][c] = in[7-c][r]
  EXPECT_EQ(a[2 * 8 + 7], in[0 * 8 + 2]);
  turnBlockPortable(2, in, a);
  EXPECT_EQ(a[5], in[58]);

  // Every table (the portable one too) against a turn followed by the plain DCT; a block
  // whose rows and columns all differ shows any mix-up of the turns.
  std::vector<const KernelTable*> tables = supportedSimdKernels();
  tables.push_back(&portableKernels());
  JpegEncoder* e = nullptr;
  createEncoder(&e);
  ASSERT_NE(e, nullptr);
  std::mt19937 rng(11);
  for (const KernelTable* t : tables) {
    SCOPED_TRACE(t->name);
    for (uint32_t q : {10u, 50u, 90u, 100u}) {
      setQuality(e, q);
      for (int n = 0; n < 20; ++n) {
        alignas(32) int16_t inB[64];
        for (int i = 0; i < 64; ++i) {
          in[i] = static_cast<int16_t>(static_cast<int>(rng() % 256) - 128);
          inB[i] = static_cast<int16_t>(n % 2 ? i * 3 - 96 : static_cast<int>(rng() % 256) - 128);
        }
        for (int r = 1; r < 4; ++r) {
          alignas(32) int16_t expectedA[64], expectedB[64], outB[64];
          turnBlockPortable(r, in, expectedA);
          portableKernels().forwardDct(expectedA, e->lumaReciprocal);
          turnBlockPortable(r, inB, expectedB);
          portableKernels().forwardDct(expectedB, e->lumaReciprocal);
          t->forwardDctTurned[r](in, b, e->lumaReciprocal);
          ASSERT_EQ(0, std::memcmp(expectedA, b, sizeof b)) << "rotation " << r << " quality " << q;
          t->forwardDctTurned2[r](in, inB, c, outB, e->lumaReciprocal);
          ASSERT_EQ(0, std::memcmp(expectedA, c, sizeof c)) << "rotation " << r << " quality " << q;
          ASSERT_EQ(0, std::memcmp(expectedB, outB, sizeof outB)) << "rotation " << r;
        }
      }
    }
  }
  destroyEncoder(e);
}

TEST(Kernels, WholeFramesMatchForEveryLayoutSamplingAndRotation) {
  forEachSimd([&](const KernelTable* simd) {
  const int w = 96, h = 64;  // multiples of 32, as halving needs
  JpegEncoder* e = nullptr;
  createEncoder(&e);
  ASSERT_NE(e, nullptr);
  std::vector<uint8_t> a(w * h * 8), b(w * h * 8);
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    // Random bytes and a natural picture: noise exercises the extremes, the picture the
    // common case.
    const auto noise = randomBytes(static_cast<size_t>(w) * h * 3, seed);
    const auto natural = toBgr24(naturalPicture(w, h, seed));
    for (const auto* input : {&noise, &natural}) {
      for (uint32_t format = 0; format <= 5; ++format) {
        for (uint32_t sampling : {kJpegSampling420, kJpegSampling422, kJpegSamplingGray}) {
          for (uint32_t rotation = 0; rotation < 4; ++rotation) {
            for (uint32_t shift : {0u, 1u}) {
              setQuality(e, 20 + 37 * seed);
              EncodeParams pa{w, h, format, shift, rotation, sampling}, pb = pa;
              const uint32_t la = encodeFrameWith(portableKernels(), e, a.data(), input->data(), &pa, 1);
              const uint32_t lb = encodeFrameWith(*simd, e, b.data(), input->data(), &pb, 1);
              ASSERT_EQ(la, lb);
              ASSERT_EQ(0, std::memcmp(a.data(), b.data(), la))
                  << "format " << format << " sampling " << sampling << " rotation " << rotation;
            }
          }
        }
      }
    }
  }
  destroyEncoder(e);
  });
}

}  // namespace
}  // namespace jpegpress

namespace jpegpress {
namespace {

// The fast fixed-point DCT stays close to the exact transform at quantiser 1, including
// the blocks with the largest coefficients, where a 16-bit overflow would show.
TEST(Kernels, ForwardDctIsCloseToTheExactTransform) {
  JpegEncoder* e = nullptr;
  createEncoder(&e);
  ASSERT_NE(e, nullptr);
  setQuality(e, 100);
  std::mt19937 rng(11);
  int worst = 0;
  double totalError = 0;
  for (int n = 0; n < 600; ++n) {
    int16_t samples[64];
    for (int i = 0; i < 64; ++i) {
      const int r = i / 8, c = i % 8;
      int v = static_cast<int>(rng() % 256) - 128;
      if (n % 5 == 1) v = ((r + c) % 2) ? 127 : -128;                                  // checkerboard
      if (n % 5 == 2) v = (std::cos((2 * c + 1) * (n % 8) * M_PI / 16) > 0) ? 127 : -128;  // bars
      if (n % 5 == 3) v = (n % 2) ? 127 : -128;                                        // flat
      samples[i] = static_cast<int16_t>(v);
    }
    alignas(32) int16_t block[64];
    std::memcpy(block, samples, sizeof block);
    portableKernels().forwardDct(block, e->lumaReciprocal);
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 8; ++u) {
        double sum = 0;
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x)
            sum += samples[y * 8 + x] * std::cos((2 * x + 1) * u * M_PI / 16) *
                   std::cos((2 * y + 1) * v * M_PI / 16);
        const double cu = u == 0 ? M_SQRT1_2 : 1, cv = v == 0 ? M_SQRT1_2 : 1;
        const double exact = 0.25 * cu * cv * sum;
        const int error = std::abs(block[u * 8 + v] - static_cast<int>(std::lround(exact)));
        worst = std::max(worst, error);
        totalError += error;
      }
  }
  // Rounding in the fixed-point stages costs a unit or two at most; an overflow would
  // cost hundreds, a multiply rounded the wrong way shows in the mean.
  const double meanError = totalError / (600 * 64);
  EXPECT_LE(worst, 2);
  EXPECT_LE(meanError, 0.08);
  std::printf("DCT error at quantiser 1: largest %d, mean %.3f\n", worst, meanError);
  destroyEncoder(e);
}

}  // namespace
}  // namespace jpegpress
