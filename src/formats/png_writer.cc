#include "png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <span>
#include <thread>

namespace pelt {

namespace {

constexpr std::size_t kBandBytes = 1u << 20;  // filtered bytes per band, at least one row
constexpr unsigned kMaxThreads = 4;
constexpr std::size_t kStoredBlock = 65535;  // the most bytes one stored deflate block holds

// Each row takes whichever of the Sub, Up and Paeth filters gives the least sum of its bytes'
// magnitudes read as signed (libpng's heuristic). Measured on 4096 x 4096 DXT images, that is 4
// to 12 % smaller than Up alone; None and Average, when also tried, win rows and lose bytes.
enum Filter : std::uint8_t { kSub = 1, kUp = 2, kPaeth = 4 };

// Writes the residuals of filter F for the row `cur` (n bytes, bpp a pixel) under `up` to `out`;
// returns their sum as magnitudes of signed bytes. One loop in 16 bits a filter: vectorised.
template <Filter F>
std::uint32_t FilterRow(const std::uint8_t* cur, const std::uint8_t* up, std::size_t n,
                        std::size_t bpp, std::uint8_t* out) {
  for (std::size_t i = 0; i < bpp; ++i)  // no pixel on the left: Paeth predicts the one above
    out[i] = static_cast<std::uint8_t>(F == kSub ? cur[i] : cur[i] - up[i]);
  for (std::size_t i = bpp; i < n; ++i) {
    const std::int16_t a = cur[i - bpp], b = up[i], c = up[i - bpp];
    std::int16_t predicted = F == kSub ? a : b;
    if constexpr (F == kPaeth) {
      const std::int16_t pa = static_cast<std::int16_t>(std::abs(b - c));
      const std::int16_t pb = static_cast<std::int16_t>(std::abs(a - c));
      const std::int16_t pc = static_cast<std::int16_t>(std::abs(a + b - 2 * c));
      predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    out[i] = static_cast<std::uint8_t>(cur[i] - predicted);
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += std::abs(static_cast<std::int8_t>(out[i]));
  return sum;
}

// Deflate settings are chosen band by band from how each of two compresses the band's first
// 16 KiB (from 8 to 64 KiB, the same choices on the images measured). Measured on 4096 x 4096 DXT
// images of random blocks and of textures (bench/png_vs_magick.sh):
// - Huffman codes alone are twice as fast as level 1 on random blocks, and the smallest of all
//   on RGBA textures whose alpha varies, where whole pixels seldom repeat (8 % smaller than
//   level 4, 2 % than Z_RLE);
// - level 4, following chains of at most 8 earlier matches instead of 16 (15 % faster, 3 %
//   larger), is 12 % smaller than Huffman codes alone on opaque textures (RGB), whose 4-colour
//   blocks repeat whole pixels, and 3 times as slow on random blocks. It is tried only where
//   Huffman codes halve the sample, and kept only where it does better there.
constexpr std::size_t kSampleBytes = 16u << 10;
constexpr int kMatchLevel = 4;
constexpr int kMatchChain = 8;

void PutU32Be(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint64_t BandRows(std::uint64_t row_bytes) {  // row_bytes counts the filter byte
  return std::max<std::uint64_t>(1, kBandBytes / row_bytes);
}

// The deflate bytes of `n` (at least 1) bytes as stored blocks.
std::uint64_t StoredSize(std::uint64_t n) {
  return n + 5 * ((n + kStoredBlock - 1) / kStoredBlock);
}

// Writes in[0, n) as stored blocks at `out`, starting on a byte boundary; the last block is the
// stream's final one when `last`. Returns the bytes written: StoredSize(n).
std::size_t Store(const std::uint8_t* in, std::size_t n, bool last, std::uint8_t* out) {
  std::uint8_t* p = out;
  for (std::size_t at = 0; at < n;) {
    const std::size_t len = std::min(kStoredBlock, n - at);
    at += len;
    const std::uint8_t head[5] = {
        last && at == n, static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
        static_cast<std::uint8_t>(~len), static_cast<std::uint8_t>(~len >> 8)};
    std::memcpy(p, head, 5);
    std::memcpy(p + 5, in + at - len, len);
    p += 5 + len;
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace

std::uint64_t PngSizeBound(std::uint16_t width, std::uint16_t height, unsigned channels) {
  const std::uint64_t row = 1 + std::uint64_t{width} * channels;
  const std::uint64_t rows = BandRows(row), full = height / rows, rest = height % rows;
  // Signature, IHDR, IEND, the zlib header and checksum; an IDAT chunk per band.
  std::uint64_t bound = 8 + 25 + 12 + 2 + 4 + full * (12 + StoredSize(rows * row));
  if (rest != 0) bound += 12 + StoredSize(rest * row);
  return bound;
}

// A band of rows and the IDAT chunk it becomes. `rows` holds slots of a filter byte and a row:
// slot 0 the row above the band (zeros above the image), then the band's rows, filtered in
// place. `out` holds the chunk: length, type, data (after the zlib header in the first band),
// then room for the stream's checksum and the chunk's CRC.
struct PngWriter::Band {
  Band(std::size_t band_rows, std::size_t row_bytes)
      : stride(1 + row_bytes),
        rows((band_rows + 1) * stride),
        out(8 + 2 + StoredSize(band_rows * stride) + 4 + 4),
        scratch(3 * row_bytes) {
    deflate_ok = deflateInit2(&z, kMatchLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Band() {
    if (deflate_ok) deflateEnd(&z);
  }
  // Filters and compresses the band's `count` rows into `out`; the first band starts the zlib
  // stream, the last ends it.
  void Compress(std::size_t bpp, bool first, bool last);
  // Deflates the first `n` filtered bytes with `level` and `strategy` into [dst, dst + cap):
  // the bytes written, or 0 when they do not fit.
  std::size_t Deflate(std::size_t n, int level, int strategy, bool last, std::uint8_t* dst,
                      std::size_t cap);

  std::size_t stride;
  std::vector<std::uint8_t> rows, out, scratch;
  std::size_t count = 0, size = 0, data = 0;  // rows; their bytes filtered; IDAT data bytes
  std::uint32_t adler = 0, crc = 0;
  bool last = false;
  bool deflate_ok = false;
  z_stream z{};
  std::future<void> done;
  bool threaded = false;  // `done` runs on a thread of its own
};

std::size_t PngWriter::Band::Deflate(std::size_t n, int level, int strategy, bool end,
                                     std::uint8_t* dst, std::size_t cap) {
  // Parameters first, then the reset: a reset stream keeps them, whatever zlib's version.
  z.next_out = dst;
  z.avail_out = static_cast<uInt>(cap);
  deflateParams(&z, level, strategy);
  deflateReset(&z);
  if (level == kMatchLevel) deflateTune(&z, 4, 4, 16, kMatchChain);
  z.next_in = &rows[stride];
  z.avail_in = static_cast<uInt>(n);
  z.next_out = dst;
  z.avail_out = static_cast<uInt>(cap);
  const int r = deflate(&z, end ? Z_FINISH : Z_SYNC_FLUSH);
  const bool fits = end ? r == Z_STREAM_END : r == Z_OK && z.avail_in == 0 && z.avail_out > 0;
  return fits ? cap - z.avail_out : 0;
}

void PngWriter::Band::Compress(std::size_t bpp, bool first, bool end) {
  last = end;
  const std::size_t n = stride - 1;
  for (std::size_t r = count; r > 0; --r) {  // from the bottom: each reads the row above as it was
    std::uint8_t* const row = &rows[r * stride];
    const std::uint8_t* const up = row + 1 - stride;
    const std::uint32_t sums[] = {FilterRow<kSub>(row + 1, up, n, bpp, &scratch[0]),
                                  FilterRow<kUp>(row + 1, up, n, bpp, &scratch[n]),
                                  FilterRow<kPaeth>(row + 1, up, n, bpp, &scratch[2 * n])};
    const std::size_t best = static_cast<std::size_t>(std::min_element(sums, sums + 3) - sums);
    row[0] = best == 0 ? kSub : best == 1 ? kUp : kPaeth;
    std::memcpy(row + 1, &scratch[best * n], n);
  }
  adler = static_cast<std::uint32_t>(adler32(1, &rows[stride], static_cast<uInt>(size)));
  std::uint8_t* const d = out.data() + 8;
  const std::size_t head = first ? 2 : 0;
  if (first) {
    d[0] = 0x78;  // deflate with a 32 KiB window
    d[1] = 0x01;  // no preset dictionary; the check bits make 0x7801 a multiple of 31
  }
  const std::size_t cap = static_cast<std::size_t>(StoredSize(size));
  std::size_t written = 0;
  if (deflate_ok) {
    const std::size_t sample = std::min(size, kSampleBytes);
    int level = 1, strategy = Z_HUFFMAN_ONLY;
    const std::size_t huffman = Deflate(sample, 1, Z_HUFFMAN_ONLY, false, d + head, cap);
    if (huffman != 0 && huffman < sample / 2) {
      const std::size_t lazy =
          Deflate(sample, kMatchLevel, Z_DEFAULT_STRATEGY, false, d + head, cap);
      if (lazy != 0 && lazy < huffman) {
        level = kMatchLevel;
        strategy = Z_DEFAULT_STRATEGY;
      }
    }
    written = Deflate(size, level, strategy, end, d + head, cap);
  }
  if (written == 0) written = Store(&rows[stride], size, end, d + head);
  data = head + written;
  crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4));
  crc = static_cast<std::uint32_t>(crc32(crc, d, static_cast<uInt>(data)));
}

void ThreadBudget::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  given_.wait(lock, [this] { return free_ > 0; });
  --free_;
}

bool ThreadBudget::TryTake() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (free_ == 0) return false;
  --free_;
  return true;
}

void ThreadBudget::Give() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++free_;
  }
  given_.notify_one();
}

PngWriter::PngWriter(Sink* out, std::uint16_t width, std::uint16_t height, PngColour colour,
                     unsigned threads, ThreadBudget* budget)
    : out_(out),
      width_(width),
      height_(height),
      colour_(colour),
      row_bytes_(std::size_t{width} * Channels(colour)),
      band_rows_(
          static_cast<std::size_t>(std::min<std::uint64_t>(BandRows(1 + row_bytes_), height))),
      prior_(row_bytes_),
      budget_(budget) {
  assert(width > 0 && height > 0);
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
  // With a budget, a band in flight for each of its threads: the file may have them all once the
  // other jobs are done.
  if (budget != nullptr) threads = std::min(budget->threads(), kMaxThreads);
  policy_ = threads > 1 ? std::launch::async : std::launch::deferred;  // deferred: run by get()
  const std::size_t bands = (height + band_rows_ - 1) / band_rows_;
  for (std::size_t i = 0; i < std::min<std::size_t>(threads, bands); ++i)
    bands_.push_back(std::make_unique<Band>(band_rows_, row_bytes_));
}

PngWriter::~PngWriter() {
  for (const auto& b : bands_) {  // deferred bands never run unless written
    if (b->done.valid() && b->threaded) b->done.wait();
  }
}

Status PngWriter::AddRows(const std::uint8_t* rows, std::size_t count) {
  assert(count <= height_ - rows_);
  for (std::size_t r = 0; r < count && status_.ok(); ++r, rows += row_bytes_) {
    // Band n goes where band n - size was: that one must be written first.
    while (status_.ok() && written_ + bands_.size() <= submitted_) status_ = WriteOldest();
    Band& b = *bands_[submitted_ % bands_.size()];
    if (rows_in_band_ == 0) std::memcpy(&b.rows[1], prior_.data(), row_bytes_);
    std::memcpy(&b.rows[(rows_in_band_ + 1) * b.stride + 1], rows, row_bytes_);
    ++rows_;
    if (++rows_in_band_ == band_rows_ || rows_ == height_) {
      std::memcpy(prior_.data(), rows, row_bytes_);  // the row above the next band
      b.count = rows_in_band_;
      b.size = rows_in_band_ * b.stride;
      const std::size_t bpp = Channels(colour_);
      const bool first = submitted_ == 0, end = rows_ == height_;
      // With a budget, a thread of its own only when one is free.
      b.threaded = budget_ == nullptr ? policy_ == std::launch::async : budget_->TryTake();
      b.done = std::async(b.threaded ? std::launch::async : std::launch::deferred,
                          [&b, bpp, first, end, budget = b.threaded ? budget_ : nullptr] {
                            b.Compress(bpp, first, end);
                            if (budget != nullptr) budget->Give();
                          });
      ++submitted_;
      rows_in_band_ = 0;
    }
  }
  return status_;
}

Status PngWriter::WriteOldest() {
  Band& b = *bands_[written_ % bands_.size()];
  b.done.get();
  adler_ = written_ == 0 ? b.adler
                         : static_cast<std::uint32_t>(
                               adler32_combine(adler_, b.adler, static_cast<z_off_t>(b.size)));
  if (written_++ == 0) {
    std::array<std::uint8_t, 33> head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                         0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    PutU32Be(&head[16], width_);
    PutU32Be(&head[20], height_);
    head[24] = 8;  // bits per sample; then compression, filter and interlace methods 0
    head[25] = static_cast<std::uint8_t>(colour_);
    PutU32Be(&head[29], static_cast<std::uint32_t>(crc32(0, &head[12], 17)));
    if (Status st = out_->Write(head); !st.ok()) return st;
  }
  std::uint8_t* const p = b.out.data();
  std::size_t n = b.data;
  if (b.last) {  // the zlib stream's checksum ends the last band's data
    PutU32Be(p + 8 + n, adler_);
    b.crc = static_cast<std::uint32_t>(crc32(b.crc, p + 8 + n, 4));
    n += 4;
  }
  PutU32Be(p, static_cast<std::uint32_t>(n));
  std::memcpy(p + 4, "IDAT", 4);
  PutU32Be(p + 8 + n, b.crc);
  return out_->Write(std::span(p, 12 + n));
}

Status PngWriter::Finish() {
  assert(rows_ == height_ || !status_.ok());
  while (status_.ok() && written_ < submitted_) status_ = WriteOldest();
  if (!status_.ok()) return status_;
  static constexpr std::uint8_t kIend[12] = {0,   0,   0,    0,    'I',  'E',
                                             'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return status_ = out_->Write(kIend);
}

}  // namespace pelt
