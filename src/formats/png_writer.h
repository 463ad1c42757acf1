// The PNG files pelt writes: 8-bit samples, grey, RGB or RGBA, no interlacing, no ancillary
// chunks: the signature, IHDR, one IDAT chunk per band of rows, IEND.
//
// Rows are filtered (Sub, Up or Paeth, whichever suits the row) and compressed a band of about
// 1 MiB at a time, each band an independent deflate stream ended by a sync flush, so that bands
// are filtered and compressed on several threads at once and the file is the same whatever their
// number. A band that deflate would make larger than its bytes stored is written as stored
// blocks instead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "sink.h"
#include "status.h"

namespace pelt {

enum class PngColour : std::uint8_t { kGrey = 0, kRgb = 2, kRgba = 6 };  // the IHDR colour type

// Samples per pixel: 1, 3 or 4.
constexpr unsigned Channels(PngColour c) {
  return c == PngColour::kGrey ? 1 : c == PngColour::kRgb ? 3 : 4;
}

// The colour type of `channels` (1, 3 or 4) samples per pixel: grey, RGB or RGBA.
constexpr PngColour ColourOf(unsigned channels) {
  if (channels == 1) return PngColour::kGrey;
  if (channels == 3) return PngColour::kRgb;
  return PngColour::kRgba;
}

// The most bytes PngWriter writes for a width x height image of `channels` samples per pixel:
// every band stored uncompressed (its rows' bytes, a filter byte each, and 5 bytes per stored
// block of up to 65535), with the signature and every chunk around them.
std::uint64_t PngSizeBound(std::uint16_t width, std::uint16_t height, unsigned channels);

// The threads a run may keep busy at once, shared by the jobs that convert entries and the bands
// of the PNG files they write: a job holds one while it works, and a band is compressed on a
// thread of its own only when one is free, otherwise by the thread that writes the file.
class ThreadBudget {
 public:
  explicit ThreadBudget(unsigned threads) : threads_(threads), free_(threads) {}
  void Take();  // waits for a thread to be free
  bool TryTake();
  void Give();
  unsigned threads() const { return threads_; }

 private:
  const unsigned threads_;
  std::mutex mutex_;
  std::condition_variable given_;
  unsigned free_;
};

// Writes a width x height PNG file (both at least 1) to `out` as rows arrive. Memory stays at a
// few bands whatever the image's size. Compression runs on `threads` threads (0: as many as
// the processor has, at most 4), or with a `budget`, on as many as it has free as each band is
// ready (as many bands in flight as it has threads, at most 4); the bytes written depend on
// neither.
class PngWriter {
 public:
  PngWriter(Sink* out, std::uint16_t width, std::uint16_t height, PngColour colour,
            unsigned threads = 0, ThreadBudget* budget = nullptr);
  ~PngWriter();  // waits for the bands in flight
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;

  // Appends `count` rows of width x Channels(colour) samples, packed in `rows`, top row first;
  // no more than the image's height in all. Returns the first write failure, then again.
  [[nodiscard]] Status AddRows(const std::uint8_t* rows, std::size_t count);
  // Once every row is added: writes what is left and IEND.
  [[nodiscard]] Status Finish();

 private:
  struct Band;
  Status WriteOldest();  // waits for the oldest band in flight and writes it

  Sink* out_;
  std::uint16_t width_, height_;
  PngColour colour_;
  std::size_t row_bytes_, band_rows_;
  std::vector<std::uint8_t> prior_;           // the last row of the last band, unfiltered
  std::vector<std::unique_ptr<Band>> bands_;  // a ring: band n fills bands_[n % size]
  std::launch policy_;
  ThreadBudget* budget_;
  std::uint64_t submitted_ = 0, written_ = 0;  // bands handed to a thread, and written
  std::size_t rows_in_band_ = 0;
  std::uint32_t rows_ = 0, adler_ = 1;  // rows added; the checksum of the bands written
  Status status_;
};

}  // namespace pelt
