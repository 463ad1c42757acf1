// The SSSE3 and AVX2 paths that decode rows of DXT blocks.
//
// Both follow one plan for each block:
// - Palette, in 16-bit lanes. The two endpoints are expanded by shifting (5:6:5 to 8 bits, no
//   bit replication) into one 128-bit lane as blue, green, red, alpha: e = [c0 | c1]. With f = e
//   with its halves swapped, e + e + f = [2c0 + c1 | c0 + 2c1], and one multiply-high divides
//   both by 3: the four-colour entries [c2 | c3]. DXT1's three-colour mode takes
//   [(c0 + c1) / 2 | transparent] instead, chosen by comparing the endpoint words. Packing e and
//   the two interpolated entries to bytes gives the palette as four pixel words [c0 c1 c2 c3].
// - Colour indices. The sixteen 2-bit indices become one byte-shuffle control per pixel row:
//   pixel n's bytes 0..3 select bytes 4i .. 4i+3 of the palette, i being its index.
// - Alpha (DXT3, DXT5). The sixteen alphas are made as bytes in pixel order, DXT3's by a table
//   lookup of nibble x 17, DXT5's by looking up its eight-entry table with the sixteen 3-bit
//   indices, and shuffled into byte 3 of each pixel; the colour shuffle leaves that byte 0.
// SSSE3 decodes one block per 128-bit vector. AVX2 decodes two neighbouring blocks per 256-bit
// vector, one in each 128-bit lane (its byte shuffles work within lanes), so that a pixel row of
// the pair is one 32-byte store.
//
// Division by multiply-high. With m = ceil(2^16 / d) and e = m d - 2^16 (0 < e < d),
// x m / 2^16 = x / d + x e / (d 2^16). The fraction of x / d is at most (d - 1) / d, so the
// floor is unchanged whenever x e < 2^16:
//   d = 3: m = 21846, e = 2, exact for x < 32768; the palette's sums are at most 3 x 255 = 765.
//   d = 5: m = 13108, e = 4, exact for x < 16384; six-alpha sums are at most 5 x 255 = 1275.
//   d = 7: m = 9363,  e = 5, exact for x < 13107; eight-alpha sums are at most 7 x 255 = 1785.
// The tests also decode every pair of endpoint values through every path.
#include "dxt_simd.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace pelt::simd {
namespace {

constexpr short kDiv3 = 21846, kDiv5 = 13108, kDiv7 = 9363;

// A 16-bit lane value given as an unsigned number.
constexpr short U16(int v) { return static_cast<short>(static_cast<std::uint16_t>(v)); }

// ---- 128-bit patterns (SSE2 only, so both paths use them) ------------------------------------
// `o` is the byte offset of the block's colour half within its 128-bit lane.

// The endpoint words, col0 in lanes 0-3 and col1 in lanes 4-7.
inline __m128i EndpointWordsCtrl(int o) {
  const char a = static_cast<char>(o), b = static_cast<char>(o + 1);
  const char c = static_cast<char>(o + 2), d = static_cast<char>(o + 3);
  return _mm_setr_epi8(a, b, a, b, a, b, a, b, c, d, c, d, c, d, c, d);
}
// The 32-bit index word in every 32-bit lane.
inline __m128i IndexWordCtrl(int o) {
  const char a = static_cast<char>(o + 4), b = static_cast<char>(o + 5);
  const char c = static_cast<char>(o + 6), d = static_cast<char>(o + 7);
  return _mm_setr_epi8(a, b, c, d, a, b, c, d, a, b, c, d, a, b, c, d);
}
// Picks byte r of every 32-bit lane into all four of its bytes.
inline __m128i RowByteCtrl(int r) {
  const char a = static_cast<char>(r), b = static_cast<char>(4 + r);
  const char c = static_cast<char>(8 + r), d = static_cast<char>(12 + r);
  return _mm_setr_epi8(a, a, a, a, b, b, b, b, c, c, c, c, d, d, d, d);
}
// Added to 4i, the byte of a pixel's palette entry. DXT3 and DXT5 set the top bit of the alpha
// byte's control, which makes the shuffle write 0 there.
inline __m128i PixelBytes(bool with_alpha) {
  return with_alpha ? _mm_set1_epi32(static_cast<int>(0x80020100u)) : _mm_set1_epi32(0x03020100);
}
// Alpha r x 4 + n of a row's alphas into byte 3 of pixel n, 0 into its other bytes.
inline __m128i AlphaRowCtrl(int r) {
  const char z = -128, a = static_cast<char>(4 * r), b = static_cast<char>(4 * r + 1);
  const char c = static_cast<char>(4 * r + 2), d = static_cast<char>(4 * r + 3);
  return _mm_setr_epi8(z, z, z, a, z, z, z, b, z, z, z, c, z, z, z, d);
}
// DXT3: an alpha nibble n to n x 17.
inline __m128i Times17() {
  return _mm_setr_epi8(0, 17, 34, 51, 68, 85, 102, 119, -120, -103, -86, -69, -52, -35, -18, -1);
}
// DXT5: for 3-bit index k of a group of eight (k = 0..7), the 16-bit word of the group's bytes
// (starting at byte `o` of the lane) that holds index bits 3k .. 3k+2; a zero high byte where
// those bits lie within one byte.
inline __m128i AlphaIndexWordsCtrl(int o) {
  const char z = -128, a = static_cast<char>(o), b = static_cast<char>(o + 1);
  const char c = static_cast<char>(o + 2);
  return _mm_setr_epi8(a, z, a, z, a, b, b, z, b, z, b, c, c, z, c, z);
}
// Multiplying those words by 2^(8 - (3k mod 8)) moves each index to bits 8-10.
inline __m128i AlphaIndexShifts() { return _mm_setr_epi16(256, 32, 4, 128, 16, 2, 64, 8); }
// The weights of alpha0 and alpha1 (bytes) in each of the eight table entries, and the divisor.
inline __m128i EightAlphaWeights() {
  return _mm_setr_epi8(7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6);
}
inline __m128i SixAlphaWeights() {
  return _mm_setr_epi8(5, 0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0);
}
inline __m128i SixAlphaTail() { return _mm_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255); }
// 5:6:5 fields in lanes blue, green, red (alpha 0), and the multipliers that move them to the
// top of a byte: blue by mullo x 8; green (>> 3) and red (>> 8) by multiply-high.
inline __m128i FieldMasks() { return _mm_setr_epi16(0x1F, 0x7E0, U16(0xF800), 0, 0x1F, 0x7E0, U16(0xF800), 0); }
inline __m128i FieldMulLo() { return _mm_setr_epi16(8, 0, 0, 0, 8, 0, 0, 0); }
inline __m128i FieldMulHi() { return _mm_setr_epi16(0, 8192, 256, 0, 0, 8192, 256, 0); }
inline __m128i OpaqueAlpha() { return _mm_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255); }
// DXT1's transparent entry: blue 255, green 255, red 0, alpha 0.
inline __m128i Transparent() { return _mm_setr_epi16(255, 255, 0, 0, 255, 255, 0, 0); }

// ---- SSSE3: one block per vector -------------------------------------------------------------

#define PELT_SSSE3 [[gnu::target("ssse3")]]

PELT_SSSE3 inline __m128i Select128(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The palette of a block whose colour half is at byte `o` of `blk`.
template <DxtFormat F>
PELT_SSSE3 inline __m128i Palette128(__m128i blk, int o) {
  const __m128i words = _mm_shuffle_epi8(blk, EndpointWordsCtrl(o));
  const __m128i fields = _mm_and_si128(words, FieldMasks());
  const __m128i e = _mm_or_si128(
      _mm_or_si128(_mm_mullo_epi16(fields, FieldMulLo()), _mm_mulhi_epu16(fields, FieldMulHi())),
      OpaqueAlpha());
  const __m128i f = _mm_shuffle_epi32(e, 0x4E);
  __m128i mix = _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(e, e), f), _mm_set1_epi16(kDiv3));
  if constexpr (F == DxtFormat::kDxt1) {
    const __m128i half = _mm_srli_epi16(_mm_add_epi16(e, f), 1);
    const __m128i three = _mm_unpacklo_epi64(half, Transparent());
    const __m128i biased = _mm_xor_si128(words, _mm_set1_epi16(U16(0x8000)));  // unsigned compare
    const __m128i gt = _mm_cmpgt_epi16(biased, _mm_shuffle_epi32(biased, 0x4E));
    mix = Select128(_mm_unpacklo_epi64(gt, gt), mix, three);
  }
  return _mm_packus_epi16(e, mix);
}

// Byte r of 32-bit lane n is 4 x the index of pixel n of row r.
PELT_SSSE3 inline __m128i ColourIndices128(__m128i blk, int o) {
  const __m128i w = _mm_shuffle_epi8(blk, IndexWordCtrl(o));
  // Lane n: (w >> 2n) << 2.
  const __m128i x = _mm_unpacklo_epi64(_mm_unpacklo_epi32(_mm_slli_epi32(w, 2), w),
                                       _mm_unpacklo_epi32(_mm_srli_epi32(w, 2), _mm_srli_epi32(w, 4)));
  return _mm_and_si128(x, _mm_set1_epi8(0x0C));
}

// The sixteen alphas of the block's alpha half (at byte 0 of `blk`), in pixel order.
template <DxtFormat F>
PELT_SSSE3 inline __m128i Alphas128(__m128i blk) {
  if constexpr (F == DxtFormat::kDxt3) {
    const __m128i low = _mm_and_si128(blk, _mm_set1_epi8(0x0F));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(blk, 4), _mm_set1_epi8(0x0F));
    return _mm_shuffle_epi8(Times17(), _mm_unpacklo_epi8(low, high));
  } else {
    const __m128i ends = _mm_shuffle_epi8(blk, _mm_set1_epi16(0x0100));  // alpha0, alpha1, ...
    const __m128i eight =
        _mm_cmpgt_epi16(_mm_maddubs_epi16(ends, _mm_set1_epi16(U16(0xFF01))), _mm_setzero_si128());
    const __m128i weights = Select128(eight, EightAlphaWeights(), SixAlphaWeights());
    const __m128i divisor = Select128(eight, _mm_set1_epi16(kDiv7), _mm_set1_epi16(kDiv5));
    __m128i table = _mm_mulhi_epu16(_mm_maddubs_epi16(ends, weights), divisor);
    table = _mm_or_si128(table, _mm_andnot_si128(eight, SixAlphaTail()));
    table = _mm_packus_epi16(table, table);
    const __m128i g0 = _mm_mullo_epi16(_mm_shuffle_epi8(blk, AlphaIndexWordsCtrl(2)), AlphaIndexShifts());
    const __m128i g1 = _mm_mullo_epi16(_mm_shuffle_epi8(blk, AlphaIndexWordsCtrl(5)), AlphaIndexShifts());
    const __m128i index = _mm_and_si128(
        _mm_packus_epi16(_mm_srli_epi16(g0, 8), _mm_srli_epi16(g1, 8)), _mm_set1_epi8(7));
    return _mm_shuffle_epi8(table, index);
  }
}

template <bool kStream>
PELT_SSSE3 inline void Store128(BgraPixel* p, __m128i v) {
  if constexpr (kStream) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
}

template <DxtFormat F, bool kStream>
PELT_SSSE3 void Rows128(const std::uint8_t* blocks, std::uint32_t xblocks, std::uint32_t block_rows,
                        BgraPixel* out, std::size_t stride) {
  constexpr std::size_t kBlockBytes = BlockSize(F);
  constexpr int kColour = F == DxtFormat::kDxt1 ? 0 : 8;
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row = out + std::size_t{by} * 4 * stride;
    const std::uint8_t* src = blocks + std::size_t{by} * xblocks * kBlockBytes;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, src += kBlockBytes, row += 4) {
      const __m128i blk = kBlockBytes == 8
                              ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src))
                              : _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      const __m128i palette = Palette128<F>(blk, kColour);
      const __m128i indices = ColourIndices128(blk, kColour);
      __m128i alphas = _mm_setzero_si128();
      if constexpr (F != DxtFormat::kDxt1) alphas = Alphas128<F>(blk);
      for (int r = 0; r < 4; ++r) {
        const __m128i ctrl = _mm_or_si128(_mm_shuffle_epi8(indices, RowByteCtrl(r)),
                                          PixelBytes(F != DxtFormat::kDxt1));
        __m128i pixels = _mm_shuffle_epi8(palette, ctrl);
        if constexpr (F != DxtFormat::kDxt1) {
          pixels = _mm_or_si128(pixels, _mm_shuffle_epi8(alphas, AlphaRowCtrl(r)));
        }
        Store128<kStream>(row + r * stride, pixels);
      }
    }
  }
}

// ---- AVX2: two blocks per vector, one in each 128-bit lane -----------------------------------

#define PELT_AVX2 [[gnu::target("avx2")]]

PELT_AVX2 inline __m256i Both(__m128i v) { return _mm256_broadcastsi128_si256(v); }
PELT_AVX2 inline __m256i Lanes(__m128i lo, __m128i hi) { return _mm256_setr_m128i(lo, hi); }

// The palettes of the two blocks whose colour halves are at byte O0 of lane 0 and O1 of lane 1.
template <DxtFormat F, int O0, int O1>
PELT_AVX2 inline __m256i Palette256(__m256i blk) {
  const __m256i words =
      _mm256_shuffle_epi8(blk, Lanes(EndpointWordsCtrl(O0), EndpointWordsCtrl(O1)));
  const __m256i fields = _mm256_and_si256(words, Both(FieldMasks()));
  const __m256i e = _mm256_or_si256(_mm256_or_si256(_mm256_mullo_epi16(fields, Both(FieldMulLo())),
                                                    _mm256_mulhi_epu16(fields, Both(FieldMulHi()))),
                                    Both(OpaqueAlpha()));
  const __m256i f = _mm256_shuffle_epi32(e, 0x4E);
  __m256i mix =
      _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(e, e), f), _mm256_set1_epi16(kDiv3));
  if constexpr (F == DxtFormat::kDxt1) {
    const __m256i half = _mm256_srli_epi16(_mm256_add_epi16(e, f), 1);
    const __m256i three = _mm256_unpacklo_epi64(half, Both(Transparent()));
    const __m256i biased = _mm256_xor_si256(words, _mm256_set1_epi16(U16(0x8000)));
    const __m256i gt = _mm256_cmpgt_epi16(biased, _mm256_shuffle_epi32(biased, 0x4E));
    mix = _mm256_blendv_epi8(three, mix, _mm256_unpacklo_epi64(gt, gt));
  }
  return _mm256_packus_epi16(e, mix);
}

template <int O0, int O1>
PELT_AVX2 inline __m256i ColourIndices256(__m256i blk) {
  const __m256i w = _mm256_shuffle_epi8(blk, Lanes(IndexWordCtrl(O0), IndexWordCtrl(O1)));
  const __m256i x = _mm256_slli_epi32(_mm256_srlv_epi32(w, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)), 2);
  return _mm256_and_si256(x, _mm256_set1_epi8(0x0C));
}

template <DxtFormat F>
PELT_AVX2 inline __m256i Alphas256(__m256i blk) {
  if constexpr (F == DxtFormat::kDxt3) {
    const __m256i low = _mm256_and_si256(blk, _mm256_set1_epi8(0x0F));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(blk, 4), _mm256_set1_epi8(0x0F));
    return _mm256_shuffle_epi8(Both(Times17()), _mm256_unpacklo_epi8(low, high));
  } else {
    const __m256i ends = _mm256_shuffle_epi8(blk, _mm256_set1_epi16(0x0100));
    const __m256i eight = _mm256_cmpgt_epi16(
        _mm256_maddubs_epi16(ends, _mm256_set1_epi16(U16(0xFF01))), _mm256_setzero_si256());
    const __m256i weights = _mm256_blendv_epi8(Both(SixAlphaWeights()), Both(EightAlphaWeights()), eight);
    const __m256i divisor = _mm256_blendv_epi8(_mm256_set1_epi16(kDiv5), _mm256_set1_epi16(kDiv7), eight);
    __m256i table = _mm256_mulhi_epu16(_mm256_maddubs_epi16(ends, weights), divisor);
    table = _mm256_or_si256(table, _mm256_andnot_si256(eight, Both(SixAlphaTail())));
    table = _mm256_packus_epi16(table, table);
    const __m256i g0 = _mm256_mullo_epi16(_mm256_shuffle_epi8(blk, Both(AlphaIndexWordsCtrl(2))),
                                          Both(AlphaIndexShifts()));
    const __m256i g1 = _mm256_mullo_epi16(_mm256_shuffle_epi8(blk, Both(AlphaIndexWordsCtrl(5))),
                                          Both(AlphaIndexShifts()));
    const __m256i index = _mm256_and_si256(
        _mm256_packus_epi16(_mm256_srli_epi16(g0, 8), _mm256_srli_epi16(g1, 8)), _mm256_set1_epi8(7));
    return _mm256_shuffle_epi8(table, index);
  }
}

// The four pixel rows of the two blocks in `blk`: lane 0 of rows[r] is row r of the first block.
template <DxtFormat F, int O0, int O1>
PELT_AVX2 inline void Pair256(__m256i blk, __m256i rows[4]) {
  const __m256i palette = Palette256<F, O0, O1>(blk);
  const __m256i indices = ColourIndices256<O0, O1>(blk);
  __m256i alphas = _mm256_setzero_si256();
  if constexpr (F != DxtFormat::kDxt1) alphas = Alphas256<F>(blk);
  for (int r = 0; r < 4; ++r) {
    const __m256i ctrl = _mm256_or_si256(_mm256_shuffle_epi8(indices, Both(RowByteCtrl(r))),
                                         Both(PixelBytes(F != DxtFormat::kDxt1)));
    rows[r] = _mm256_shuffle_epi8(palette, ctrl);
    if constexpr (F != DxtFormat::kDxt1) {
      rows[r] = _mm256_or_si256(rows[r], _mm256_shuffle_epi8(alphas, Both(AlphaRowCtrl(r))));
    }
  }
}

template <bool kStream>
PELT_AVX2 inline void Store256(BgraPixel* p, __m256i v) {
  if constexpr (kStream) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
}

template <DxtFormat F, bool kStream>
PELT_AVX2 void Rows256(const std::uint8_t* blocks, std::uint32_t xblocks, std::uint32_t block_rows,
                       BgraPixel* out, std::size_t stride) {
  constexpr std::size_t kBlockBytes = BlockSize(F);
  // A pair of DXT1 blocks is loaded as 16 bytes into both lanes; a pair of 16-byte blocks fills
  // the two lanes. A last block on its own goes in both lanes, at the same offsets.
  constexpr int kColour0 = F == DxtFormat::kDxt1 ? 0 : 8;
  constexpr int kColour1 = 8;
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row = out + std::size_t{by} * 4 * stride;
    const std::uint8_t* src = blocks + std::size_t{by} * xblocks * kBlockBytes;
    __m256i rows[4];
    std::uint32_t bx = 0;
    for (; xblocks - bx >= 2; bx += 2, src += 2 * kBlockBytes, row += 8) {
      const __m256i blk =
          kBlockBytes == 8
              ? _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)))
              : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
      Pair256<F, kColour0, kColour1>(blk, rows);
      for (int r = 0; r < 4; ++r) Store256<kStream>(row + r * stride, rows[r]);
    }
    if (bx < xblocks) {
      __m128i one;
      if constexpr (kBlockBytes == 8) {
        one = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
        one = _mm_unpacklo_epi64(one, one);
      } else {
        one = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      }
      Pair256<F, kColour0, kColour1>(_mm256_broadcastsi128_si256(one), rows);
      for (int r = 0; r < 4; ++r) Store128<kStream>(row + r * stride, _mm256_castsi256_si128(rows[r]));
    }
  }
}

// Whether rows at `out`, `stride` pixels apart, all start on a multiple of `bytes`.
bool Aligned(const BgraPixel* out, std::size_t stride, std::size_t bytes) {
  return reinterpret_cast<std::uintptr_t>(out) % bytes == 0 &&
         stride % (bytes / sizeof(BgraPixel)) == 0;
}

// Calls Rows<format, stream> and, after streaming stores, fences them so that they are ordered
// before whatever the caller stores next.
template <template <DxtFormat, bool> class Rows>
void Dispatch(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
              std::uint32_t block_rows, BgraPixel* out, std::size_t stride, bool stream) {
  switch (format) {
    case DxtFormat::kDxt1:
      if (stream) Rows<DxtFormat::kDxt1, true>::Run(blocks, xblocks, block_rows, out, stride);
      else Rows<DxtFormat::kDxt1, false>::Run(blocks, xblocks, block_rows, out, stride);
      break;
    case DxtFormat::kDxt3:
      if (stream) Rows<DxtFormat::kDxt3, true>::Run(blocks, xblocks, block_rows, out, stride);
      else Rows<DxtFormat::kDxt3, false>::Run(blocks, xblocks, block_rows, out, stride);
      break;
    case DxtFormat::kDxt5:
      if (stream) Rows<DxtFormat::kDxt5, true>::Run(blocks, xblocks, block_rows, out, stride);
      else Rows<DxtFormat::kDxt5, false>::Run(blocks, xblocks, block_rows, out, stride);
      break;
  }
  if (stream) _mm_sfence();
}

template <DxtFormat F, bool kStream>
struct Ssse3Rows {
  static void Run(const std::uint8_t* blocks, std::uint32_t xblocks, std::uint32_t block_rows,
                  BgraPixel* out, std::size_t stride) {
    Rows128<F, kStream>(blocks, xblocks, block_rows, out, stride);
  }
};
template <DxtFormat F, bool kStream>
struct Avx2Rows {
  static void Run(const std::uint8_t* blocks, std::uint32_t xblocks, std::uint32_t block_rows,
                  BgraPixel* out, std::size_t stride) {
    Rows256<F, kStream>(blocks, xblocks, block_rows, out, stride);
  }
};

}  // namespace

void DecodeBlockRowsSsse3(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                          std::uint32_t block_rows, BgraPixel* out, std::size_t stride,
                          bool stream) {
  Dispatch<Ssse3Rows>(format, blocks, xblocks, block_rows, out, stride,
                      stream && Aligned(out, stride, 16));
}

void DecodeBlockRowsAvx2(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                         std::uint32_t block_rows, BgraPixel* out, std::size_t stride, bool stream) {
  Dispatch<Avx2Rows>(format, blocks, xblocks, block_rows, out, stride,
                     stream && Aligned(out, stride, 32));
}

}  // namespace pelt::simd

#endif  // __x86_64__
