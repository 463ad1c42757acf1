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
// Rows are stored through the cache whatever the output's size. Non-temporal (streaming) stores
// were tried for outputs far larger than the cache: with these loops they took 1.7 to 7 times as
// long as ordinary stores, which keep up with memset of the same buffer.
//
// Division by multiply-high. With m = ceil(2^16 / d) and e = m d - 2^16 (0 < e < d),
// x m / 2^16 = x / d + x e / (d 2^16). The fraction of x / d is at most (d - 1) / d, so the
// floor is unchanged whenever x e < 2^16:
//   d = 3: m = 21846, e = 2, exact for x < 32768; the palette's sums are at most 3 x 255 = 765.
//   d = 5: m = 13108, e = 4, exact for x < 16384; six-alpha sums are at most 5 x 255 = 1275.
//   d = 7: m = 9363,  e = 5, exact for x < 13107; eight-alpha sums are at most 7 x 255 = 1785.
// The tests and the DDS fuzz target hold every path to a plain reference decoder.
#include "dxt_simd.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>

namespace pelt::simd {
namespace {

// ---- constants -------------------------------------------------------------------------------
//
// Every constant is a 32-byte pattern in read-only memory, so that the loops use it straight from
// there; the SSSE3 path uses its first 16 bytes. Most repeat one 16-byte lane pattern; those that
// hold byte offsets within a block may differ between the lanes (see Rows256).

struct alignas(32) Vec {
  std::uint8_t b[32];
};
using Lane = std::array<int, 16>;

constexpr Vec Lanes(const Lane& lo, const Lane& hi) {
  Vec v{};
  for (int i = 0; i < 16; ++i) {
    v.b[i] = static_cast<std::uint8_t>(lo[i]);
    v.b[16 + i] = static_cast<std::uint8_t>(hi[i]);
  }
  return v;
}
constexpr Vec Bytes(const Lane& lane) { return Lanes(lane, lane); }
// Eight 16-bit values, little-endian, in both lanes.
constexpr Vec Words(const std::array<int, 8>& w) {
  Lane lane{};
  for (int i = 0; i < 8; ++i) {
    lane[2 * i] = w[i] & 0xFF;
    lane[2 * i + 1] = (w[i] >> 8) & 0xFF;
  }
  return Bytes(lane);
}
constexpr Vec AllWords(int w) { return Words({w, w, w, w, w, w, w, w}); }
constexpr Vec AllBytes(int b) { return Bytes({b, b, b, b, b, b, b, b, b, b, b, b, b, b, b, b}); }

// A byte-shuffle control whose top bit is set writes 0.
constexpr int kZero = 0x80;

// Divisions by multiply-high (see above).
constexpr int kDiv3 = 21846, kDiv5 = 13108, kDiv7 = 9363;

// `o` is the byte offset of a block's colour half within its lane.
// The endpoint words, col0 in 16-bit lanes 0-3 and col1 in 4-7.
constexpr Lane EndpointWords(int o) {
  const int a = o, b = o + 1, c = o + 2, d = o + 3;
  return {a, b, a, b, a, b, a, b, c, d, c, d, c, d, c, d};
}
// The 32-bit index word in every 32-bit lane.
constexpr Lane IndexWords(int o) {
  const int a = o + 4, b = o + 5, c = o + 6, d = o + 7;
  return {a, b, c, d, a, b, c, d, a, b, c, d, a, b, c, d};
}
// The 5:6:5 fields in 16-bit lanes blue, green, red (alpha 0), and the multipliers that move them
// to the top of a byte: blue by the low half of the product (x 8), green (>> 3) and red (>> 8) by
// multiply-high.
constexpr Vec kFieldMasks = Words({0x1F, 0x7E0, 0xF800, 0, 0x1F, 0x7E0, 0xF800, 0});
constexpr Vec kFieldMulLo = Words({8, 0, 0, 0, 8, 0, 0, 0});
constexpr Vec kFieldMulHi = Words({0, 8192, 256, 0, 0, 8192, 256, 0});
constexpr Vec kOpaque = Words({0, 0, 0, 255, 0, 0, 0, 255});
// DXT1's transparent entry: blue 255, green 255, red 0, alpha 0.
constexpr Vec kTransparent = Words({255, 255, 0, 0, 255, 255, 0, 0});
constexpr Vec kThirds = AllWords(kDiv3);
constexpr Vec kSignBits = AllWords(0x8000);  // unsigned compare by signed compare
// The variable right shifts (AVX2) that put pixel n's colour index at bits 0-1 of each byte.
constexpr Vec kIndexShifts = Words({0, 0, 2, 0, 4, 0, 6, 0});
constexpr Vec kIndexBits = AllBytes(0x0C);
// Byte r of every 32-bit lane into all four of its bytes.
constexpr Vec RowBytes(int r) {
  const int a = r, b = 4 + r, c = 8 + r, d = 12 + r;
  return Bytes({a, a, a, a, b, b, b, b, c, c, c, c, d, d, d, d});
}
constexpr Vec kRowBytes[4] = {RowBytes(0), RowBytes(1), RowBytes(2), RowBytes(3)};
// Added to 4i, the bytes of a pixel's palette entry. With alpha from an alpha half, the alpha
// byte's control writes 0.
constexpr Vec kEntryBytes = Bytes({0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3});
constexpr Vec kEntryColourBytes =
    Bytes({0, 1, 2, kZero, 0, 1, 2, kZero, 0, 1, 2, kZero, 0, 1, 2, kZero});
// Alpha 4r + n of the sixteen into byte 3 of pixel n, 0 into its other bytes.
constexpr Vec AlphaRow(int r) {
  const int z = kZero, a = 4 * r, b = 4 * r + 1, c = 4 * r + 2, d = 4 * r + 3;
  return Bytes({z, z, z, a, z, z, z, b, z, z, z, c, z, z, z, d});
}
constexpr Vec kAlphaRows[4] = {AlphaRow(0), AlphaRow(1), AlphaRow(2), AlphaRow(3)};
// DXT3: nibbles, and a nibble n to n x 17.
constexpr Vec kNibble = AllBytes(0x0F);
constexpr Vec kTimes17 =
    Bytes({0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255});
// DXT5: alpha0 and alpha1 in every 16-bit lane; their difference (bytes 1, -1).
constexpr Vec kEndpointAlphas = AllWords(0x0100);
constexpr Vec kAlphaDifference = AllWords(0xFF01);
// The weights of alpha0 and alpha1 (bytes) in each of the eight table entries, sevenths when
// alpha0 > alpha1, otherwise fifths and two fixed entries, 0 and 255.
constexpr Vec kSevenths = Bytes({7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6});
constexpr Vec kFifths = Bytes({5, 0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0});
constexpr Vec kBySeven = AllWords(kDiv7);
constexpr Vec kByFive = AllWords(kDiv5);
constexpr Vec kFixedAlphas = Words({0, 0, 0, 0, 0, 0, 0, 255});
// For 3-bit index k of a group of eight (k = 0..7) whose three bytes start at byte `o`: the 16-bit
// word of those bytes that holds its bits 3k .. 3k+2, with a zero high byte where the bits lie
// within one byte. Multiplying it by 2^(8 - (3k mod 8)) moves the index to bits 8-10.
constexpr Vec AlphaIndexWords(int o) {
  const int z = kZero, a = o, b = o + 1, c = o + 2;
  return Bytes({a, z, a, z, a, b, b, z, b, z, b, c, c, z, c, z});
}
constexpr Vec kAlphaIndexWords0 = AlphaIndexWords(2), kAlphaIndexWords1 = AlphaIndexWords(5);
constexpr Vec kAlphaIndexShifts = Words({256, 32, 4, 128, 16, 2, 64, 8});
constexpr Vec kAlphaIndexBits = AllBytes(7);

inline __m128i V128(const Vec& v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(v.b)); }

// The lane patterns of the blocks' colour halves, at byte O0 of lane 0 and O1 of lane 1.
template <int O0, int O1>
constexpr Vec kEndpointWordsAt = Lanes(EndpointWords(O0), EndpointWords(O1));
template <int O0, int O1>
constexpr Vec kIndexWordsAt = Lanes(IndexWords(O0), IndexWords(O1));

// ---- SSSE3: one block per vector -------------------------------------------------------------

#define PELT_SSSE3 [[gnu::target("ssse3")]]

PELT_SSSE3 inline __m128i Select128(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The palette of a block whose colour half is at byte O of `blk`.
template <DxtFormat F, int O>
PELT_SSSE3 inline __m128i Palette128(__m128i blk) {
  const __m128i words = _mm_shuffle_epi8(blk, V128(kEndpointWordsAt<O, O>));
  const __m128i fields = _mm_and_si128(words, V128(kFieldMasks));
  const __m128i e = _mm_or_si128(_mm_or_si128(_mm_mullo_epi16(fields, V128(kFieldMulLo)),
                                              _mm_mulhi_epu16(fields, V128(kFieldMulHi))),
                                 V128(kOpaque));
  const __m128i f = _mm_shuffle_epi32(e, 0x4E);
  __m128i mix = _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(e, e), f), V128(kThirds));
  if constexpr (F == DxtFormat::kDxt1) {
    const __m128i half = _mm_srli_epi16(_mm_add_epi16(e, f), 1);
    const __m128i three = _mm_unpacklo_epi64(half, V128(kTransparent));
    const __m128i biased = _mm_xor_si128(words, V128(kSignBits));
    const __m128i gt = _mm_cmpgt_epi16(biased, _mm_shuffle_epi32(biased, 0x4E));
    mix = Select128(_mm_unpacklo_epi64(gt, gt), mix, three);
  }
  return _mm_packus_epi16(e, mix);
}

// Byte r of 32-bit lane n is 4 x the index of pixel n of row r.
template <int O>
PELT_SSSE3 inline __m128i ColourIndices128(__m128i blk) {
  const __m128i w = _mm_shuffle_epi8(blk, V128(kIndexWordsAt<O, O>));
  // Lane n: (w >> 2n) << 2.
  const __m128i x =
      _mm_unpacklo_epi64(_mm_unpacklo_epi32(_mm_slli_epi32(w, 2), w),
                         _mm_unpacklo_epi32(_mm_srli_epi32(w, 2), _mm_srli_epi32(w, 4)));
  return _mm_and_si128(x, V128(kIndexBits));
}

// The sixteen alphas of the block's alpha half (at byte 0 of `blk`), in pixel order.
template <DxtFormat F>
PELT_SSSE3 inline __m128i Alphas128(__m128i blk) {
  if constexpr (F == DxtFormat::kDxt3) {
    const __m128i low = _mm_and_si128(blk, V128(kNibble));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(blk, 4), V128(kNibble));
    return _mm_shuffle_epi8(V128(kTimes17), _mm_unpacklo_epi8(low, high));
  } else {
    const __m128i ends = _mm_shuffle_epi8(blk, V128(kEndpointAlphas));
    const __m128i eight =
        _mm_cmpgt_epi16(_mm_maddubs_epi16(ends, V128(kAlphaDifference)), _mm_setzero_si128());
    const __m128i weights = Select128(eight, V128(kSevenths), V128(kFifths));
    const __m128i divisor = Select128(eight, V128(kBySeven), V128(kByFive));
    __m128i table = _mm_mulhi_epu16(_mm_maddubs_epi16(ends, weights), divisor);
    table = _mm_or_si128(table, _mm_andnot_si128(eight, V128(kFixedAlphas)));
    table = _mm_packus_epi16(table, table);
    const __m128i g0 =
        _mm_mullo_epi16(_mm_shuffle_epi8(blk, V128(kAlphaIndexWords0)), V128(kAlphaIndexShifts));
    const __m128i g1 =
        _mm_mullo_epi16(_mm_shuffle_epi8(blk, V128(kAlphaIndexWords1)), V128(kAlphaIndexShifts));
    const __m128i index = _mm_and_si128(
        _mm_packus_epi16(_mm_srli_epi16(g0, 8), _mm_srli_epi16(g1, 8)), V128(kAlphaIndexBits));
    return _mm_shuffle_epi8(table, index);
  }
}

PELT_SSSE3 inline void Store128(BgraPixel* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The four pixel rows of one block.
template <DxtFormat F>
PELT_SSSE3 inline void Block128(const std::uint8_t* src, __m128i rows[4]) {
  constexpr bool kAlpha = F != DxtFormat::kDxt1;
  constexpr int kColour = kAlpha ? 8 : 0;
  const __m128i blk = kAlpha ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(src))
                             : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
  const __m128i palette = Palette128<F, kColour>(blk);
  const __m128i indices = ColourIndices128<kColour>(blk);
  __m128i alphas = _mm_setzero_si128();
  if constexpr (kAlpha) alphas = Alphas128<F>(blk);
  for (int r = 0; r < 4; ++r) {
    const __m128i ctrl = _mm_or_si128(_mm_shuffle_epi8(indices, V128(kRowBytes[r])),
                                      V128(kAlpha ? kEntryColourBytes : kEntryBytes));
    rows[r] = _mm_shuffle_epi8(palette, ctrl);
    if constexpr (kAlpha) {
      rows[r] = _mm_or_si128(rows[r], _mm_shuffle_epi8(alphas, V128(kAlphaRows[r])));
    }
  }
}

template <DxtFormat F>
PELT_SSSE3 void Rows128(const std::uint8_t* blocks, std::uint32_t xblocks, std::uint32_t block_rows,
                        BgraPixel* out, std::size_t stride) {
  constexpr std::size_t kBlockBytes = BlockSize(F);
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row = out + std::size_t{by} * 4 * stride;
    const std::uint8_t* src = blocks + std::size_t{by} * xblocks * kBlockBytes;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, src += kBlockBytes, row += 4) {
      __m128i rows[4];
      Block128<F>(src, rows);
      for (int r = 0; r < 4; ++r) Store128(row + r * stride, rows[r]);
    }
  }
}

// ---- AVX2: two blocks per vector, one in each 128-bit lane -----------------------------------

#define PELT_AVX2 [[gnu::target("avx2")]]

PELT_AVX2 inline __m256i V256(const Vec& v) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(v.b));
}

// The palettes of the two blocks whose colour halves are at byte O0 of lane 0 and O1 of lane 1.
template <DxtFormat F, int O0, int O1>
PELT_AVX2 inline __m256i Palette256(__m256i blk) {
  const __m256i words = _mm256_shuffle_epi8(blk, V256(kEndpointWordsAt<O0, O1>));
  const __m256i fields = _mm256_and_si256(words, V256(kFieldMasks));
  const __m256i e = _mm256_or_si256(_mm256_or_si256(_mm256_mullo_epi16(fields, V256(kFieldMulLo)),
                                                    _mm256_mulhi_epu16(fields, V256(kFieldMulHi))),
                                    V256(kOpaque));
  const __m256i f = _mm256_shuffle_epi32(e, 0x4E);
  __m256i mix = _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(e, e), f), V256(kThirds));
  if constexpr (F == DxtFormat::kDxt1) {
    const __m256i half = _mm256_srli_epi16(_mm256_add_epi16(e, f), 1);
    const __m256i three = _mm256_unpacklo_epi64(half, V256(kTransparent));
    const __m256i biased = _mm256_xor_si256(words, V256(kSignBits));
    const __m256i gt = _mm256_cmpgt_epi16(biased, _mm256_shuffle_epi32(biased, 0x4E));
    mix = _mm256_blendv_epi8(three, mix, _mm256_unpacklo_epi64(gt, gt));
  }
  return _mm256_packus_epi16(e, mix);
}

template <int O0, int O1>
PELT_AVX2 inline __m256i ColourIndices256(__m256i blk) {
  const __m256i w = _mm256_shuffle_epi8(blk, V256(kIndexWordsAt<O0, O1>));
  const __m256i x = _mm256_slli_epi32(_mm256_srlv_epi32(w, V256(kIndexShifts)), 2);
  return _mm256_and_si256(x, V256(kIndexBits));
}

template <DxtFormat F>
PELT_AVX2 inline __m256i Alphas256(__m256i blk) {
  if constexpr (F == DxtFormat::kDxt3) {
    const __m256i low = _mm256_and_si256(blk, V256(kNibble));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(blk, 4), V256(kNibble));
    return _mm256_shuffle_epi8(V256(kTimes17), _mm256_unpacklo_epi8(low, high));
  } else {
    const __m256i ends = _mm256_shuffle_epi8(blk, V256(kEndpointAlphas));
    const __m256i eight = _mm256_cmpgt_epi16(_mm256_maddubs_epi16(ends, V256(kAlphaDifference)),
                                             _mm256_setzero_si256());
    const __m256i weights = _mm256_blendv_epi8(V256(kFifths), V256(kSevenths), eight);
    const __m256i divisor = _mm256_blendv_epi8(V256(kByFive), V256(kBySeven), eight);
    __m256i table = _mm256_mulhi_epu16(_mm256_maddubs_epi16(ends, weights), divisor);
    table = _mm256_or_si256(table, _mm256_andnot_si256(eight, V256(kFixedAlphas)));
    table = _mm256_packus_epi16(table, table);
    const __m256i g0 = _mm256_mullo_epi16(_mm256_shuffle_epi8(blk, V256(kAlphaIndexWords0)),
                                          V256(kAlphaIndexShifts));
    const __m256i g1 = _mm256_mullo_epi16(_mm256_shuffle_epi8(blk, V256(kAlphaIndexWords1)),
                                          V256(kAlphaIndexShifts));
    const __m256i index =
        _mm256_and_si256(_mm256_packus_epi16(_mm256_srli_epi16(g0, 8), _mm256_srli_epi16(g1, 8)),
                         V256(kAlphaIndexBits));
    return _mm256_shuffle_epi8(table, index);
  }
}

// The four pixel rows of the two blocks in `blk`: lane 0 of rows[r] is row r of the first block.
template <DxtFormat F, int O0, int O1>
PELT_AVX2 inline void Pair256(__m256i blk, __m256i rows[4]) {
  constexpr bool kAlpha = F != DxtFormat::kDxt1;
  const __m256i palette = Palette256<F, O0, O1>(blk);
  const __m256i indices = ColourIndices256<O0, O1>(blk);
  __m256i alphas = _mm256_setzero_si256();
  if constexpr (kAlpha) alphas = Alphas256<F>(blk);
  for (int r = 0; r < 4; ++r) {
    const __m256i ctrl = _mm256_or_si256(_mm256_shuffle_epi8(indices, V256(kRowBytes[r])),
                                         V256(kAlpha ? kEntryColourBytes : kEntryBytes));
    rows[r] = _mm256_shuffle_epi8(palette, ctrl);
    if constexpr (kAlpha) {
      rows[r] = _mm256_or_si256(rows[r], _mm256_shuffle_epi8(alphas, V256(kAlphaRows[r])));
    }
  }
}

PELT_AVX2 inline void Store256(BgraPixel* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Two neighbouring blocks: DXT1's 16 bytes in both lanes, 16-byte blocks one in each lane.
template <std::size_t kBlockBytes>
PELT_AVX2 inline __m256i LoadPair(const std::uint8_t* src) {
  if constexpr (kBlockBytes == 8) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
  } else {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  }
}

template <DxtFormat F>
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
      Pair256<F, kColour0, kColour1>(LoadPair<kBlockBytes>(src), rows);
      for (int r = 0; r < 4; ++r) Store256(row + r * stride, rows[r]);
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
      for (int r = 0; r < 4; ++r) Store128(row + r * stride, _mm256_castsi256_si128(rows[r]));
    }
  }
}

}  // namespace

void DecodeBlockRowsSsse3(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                          std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  switch (format) {
    case DxtFormat::kDxt1:
      return Rows128<DxtFormat::kDxt1>(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt3:
      return Rows128<DxtFormat::kDxt3>(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt5:
      return Rows128<DxtFormat::kDxt5>(blocks, xblocks, block_rows, out, stride);
  }
}

void DecodeBlockRowsAvx2(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                         std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  switch (format) {
    case DxtFormat::kDxt1:
      return Rows256<DxtFormat::kDxt1>(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt3:
      return Rows256<DxtFormat::kDxt3>(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt5:
      return Rows256<DxtFormat::kDxt5>(blocks, xblocks, block_rows, out, stride);
  }
}

}  // namespace pelt::simd

#endif  // __x86_64__
