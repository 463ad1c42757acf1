#include "tga_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"

namespace pelt {

namespace {

constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kBandBytes = 1u << 20;  // pixels converted at a time, as RGBA, at least a row
const char* const kCutShort = "TGA data is cut short";

// A colour map as 256 entries of 4 bytes (blue, green, red, alpha as stored), one per index
// byte; the entries of indices outside the map are zeros.
using ColourMap = std::array<std::uint8_t, 256 * 4>;

bool InMap(const TgaImage& t, unsigned index) {
  return index >= t.map_first && index - t.map_first < t.map_length;
}

// A TGA's pixels (or indices) in the order they are stored, any number at a time, through
// run-length packets that may cross rows; each pixel as its depth / 8 bytes.
class PixelReader {
 public:
  PixelReader(const ByteSource& entry, const TgaImage& t)
      : entry_(entry), bytes_(t.depth / 8u), rle_(t.rle) {
    cursor_.emplace(entry, t.data_offset);
  }

  // Where a pixel is: the position of its packet (of itself, without packets), and how many
  // pixels of that packet come before it.
  struct Mark {
    std::uint64_t at = 0;
    unsigned skip = 0;
  };
  // Where the next pixel is.
  Mark Here() const { return run_ == 0 ? Mark{cursor_->pos(), 0} : Mark{packet_, count_ - run_}; }
  Status Seek(Mark mark) {
    cursor_.emplace(entry_, mark.at);
    run_ = 0;
    if (mark.skip == 0) return Status::Ok();
    if (Status st = Packet(); !st.ok()) return st;
    run_ -= mark.skip;
    return repeat_ || cursor_->Skip(std::uint64_t{mark.skip} * bytes_) ? Status::Ok()
                                                                       : Status::Corrupt(kCutShort);
  }
  // The next `n` pixels, into `out`.
  Status Read(std::uint8_t* out, std::size_t n) {
    if (!rle_) return Take(out, n * bytes_);
    while (n > 0) {
      if (run_ == 0) {
        if (Status st = Packet(); !st.ok()) return st;
      }
      const unsigned k = static_cast<unsigned>(std::min<std::size_t>(n, run_));
      if (!repeat_) {
        if (Status st = Take(out, std::size_t{k} * bytes_); !st.ok()) return st;
      }
      for (unsigned i = 0; repeat_ && i < k; ++i) std::memcpy(out + i * bytes_, value_, bytes_);
      out += std::size_t{k} * bytes_;
      n -= k;
      run_ -= k;
    }
    return Status::Ok();
  }

 private:
  Status Take(std::uint8_t* out, std::size_t n) {
    if (cursor_->remaining() < n) return Status::Corrupt(kCutShort);
    return cursor_->Read(std::span(out, n));
  }
  Status Packet() {  // the next packet's header, and the pixel a repeat packet repeats
    packet_ = cursor_->pos();
    std::uint8_t head = 0;
    if (Status st = Take(&head, 1); !st.ok()) return st;
    count_ = run_ = (head & 0x7Fu) + 1;
    repeat_ = head & 0x80;
    return repeat_ ? Take(value_, bytes_) : Status::Ok();
  }

  const ByteSource& entry_;
  const unsigned bytes_;
  const bool rle_;
  std::optional<SourceCursor> cursor_;  // a cursor cannot move back: Seek makes a new one
  std::uint64_t packet_ = 0;            // where the current packet's header is
  unsigned count_ = 0, run_ = 0;        // the packet's pixels, and those not yet read
  bool repeat_ = false;
  std::uint8_t value_[4] = {};
};

// The stored pixels in[0, n) as samples, t.channels to a pixel, at `out`.
void ToSamples(const TgaImage& t, const ColourMap& map, const std::uint8_t* in, std::size_t n,
               std::uint8_t* out) {
  const unsigned channels = t.channels;
  for (std::size_t i = 0; i < n; ++i, in += t.depth / 8, out += channels) {
    const std::uint8_t* p = t.map_depth != 0 ? &map[4 * in[0]] : in;
    std::uint8_t bgra[4] = {p[0], 0, 0, 0};
    if (t.depth == 16) {
      const unsigned v = LoadU16(p);
      auto widen = [](unsigned c) { return static_cast<std::uint8_t>(c << 3 | c >> 2); };
      bgra[0] = widen(v & 31);
      bgra[1] = widen(v >> 5 & 31);
      bgra[2] = widen(v >> 10 & 31);
      bgra[3] = v & 0x8000 ? 255 : 0;
    } else if (channels > 1) {
      std::memcpy(bgra, p, channels);
    }
    const std::uint8_t rgba[4] = {bgra[2], bgra[1], bgra[0], bgra[3]};
    std::memcpy(out, channels == 1 ? bgra : rgba, channels);
  }
}

}  // namespace

Result<TgaImage> CheckTgaEntry(const ByteSource& archive, std::uint64_t offset,
                               std::uint64_t size) {
  if (size < kHeaderSize) {
    return Status::Corrupt("TGA entry is " + std::to_string(size) +
                           " bytes, shorter than its 18-byte header");
  }
  std::array<std::uint8_t, kHeaderSize> h;
  if (Status st = archive.ReadAt(offset, h); !st.ok()) return st;
  const unsigned map_type = h[1], type = h[2], map_bits = h[7], depth = h[16];
  const unsigned kind = type & ~8u;  // 1 colour-mapped, 2 true-colour, 3 grey; 8: run-length
  auto unsupported = [](unsigned bits, const char* what) {
    return Status::Unsupported("unsupported " + std::to_string(bits) + "-bit " + what);
  };
  if (kind < 1 || kind > 3)
    return Status::Unsupported("unsupported TGA image type " + std::to_string(type));
  if (map_type > 1)
    return Status::Unsupported("unsupported TGA colour-map type " + std::to_string(map_type));
  if (kind == 1 && map_type == 0) return Status::Corrupt("colour-mapped TGA has no colour map");
  if (kind == 1 && depth != 8) return unsupported(depth, "colour-mapped TGA");
  if (kind == 1 && map_bits != 24 && map_bits != 32) return unsupported(map_bits, "TGA colour map");
  if (kind == 2 && depth != 16 && depth != 24 && depth != 32)
    return unsupported(depth, "true-colour TGA");
  if (kind == 3 && depth != 8) return unsupported(depth, "grey TGA");
  if (h[17] & 0x10) return Status::Unsupported("unsupported right-to-left TGA");

  TgaImage t;
  t.width = LoadU16(&h[12]);
  t.height = LoadU16(&h[14]);
  if (t.width == 0 || t.height == 0) {
    return Status::Corrupt("TGA image is " + std::to_string(t.width) + "x" +
                           std::to_string(t.height) + "; width and height must be at least 1");
  }
  t.depth = static_cast<std::uint8_t>(depth);
  t.rle = type & 8;
  t.top_down = h[17] & 0x20;
  t.map_offset = static_cast<std::uint32_t>(kHeaderSize + h[0]);
  // At most 65535 entries of 32 bytes (a map that is skipped may claim 255 bits an entry).
  t.data_offset = t.map_offset + map_type * LoadU16(&h[5]) * ((map_bits + 7) / 8);
  if (kind == 1) {
    t.map_depth = static_cast<std::uint8_t>(map_bits);
    t.map_first = LoadU16(&h[3]);
    t.map_length = LoadU16(&h[5]);
  }
  const bool alpha_bit = (h[17] & 15) == 1;
  if (kind == 3) {
    t.channels = 1;
  } else if ((kind == 1 ? map_bits : depth) == 24 || (depth == 16 && !alpha_bit)) {
    t.channels = 3;
  } else {
    t.channels = 4;
  }
  const std::uint64_t pixels = std::uint64_t{t.width} * t.height;
  if (t.data_offset > size || (!t.rle && pixels * (depth / 8) > size - t.data_offset))
    return Status::Corrupt(kCutShort);
  if (!t.rle && kind != 1) return t;

  // Stream what the size alone does not vouch for: the packets, the indices.
  const SliceSource entry(archive, offset, size);
  PixelReader reader(entry, t);
  std::vector<std::uint8_t> row(std::size_t{t.width} * (depth / 8));
  for (unsigned y = 0; y < t.height; ++y) {
    if (Status st = reader.Read(row.data(), t.width); !st.ok()) return st;
    if (kind != 1) continue;
    const auto bad =
        std::find_if(row.begin(), row.end(), [&t](unsigned i) { return !InMap(t, i); });
    if (bad == row.end()) continue;
    return Status::Corrupt("colour-map index " + std::to_string(*bad) + " is outside the " +
                           std::to_string(t.map_length) + "-entry map" +
                           (t.map_first ? " from index " + std::to_string(t.map_first) : ""));
  }
  return t;
}

Status ReadTgaRows(const ByteSource& archive, std::uint64_t offset, std::uint64_t size,
                   const TgaImage& t, const TakeRows& take) {
  const SliceSource entry(archive, offset, size);
  ColourMap map{};
  if (t.map_depth != 0) {
    // Indices are bytes: only the entries up to index 255 can be used.
    const unsigned count =
        t.map_first > 255 ? 0 : std::min<unsigned>(t.map_length, 256 - t.map_first);
    const unsigned bytes = t.map_depth / 8u;
    std::vector<std::uint8_t> entries(std::size_t{count} * bytes);
    if (Status st = entry.ReadAt(t.map_offset, entries); !st.ok()) return st;
    for (unsigned e = 0; e < count; ++e) {
      std::memcpy(&map[4 * (t.map_first + e)], &entries[e * bytes], bytes);
    }
  }
  const std::size_t width = t.width, in_row = width * (t.depth / 8u);
  const std::size_t out_row = width * t.channels;
  PixelReader reader(entry, t);
  // Stored bottom row first and run-length encoded: where each row starts, found by a first pass.
  std::vector<PixelReader::Mark> starts;
  if (t.rle && !t.top_down) {
    starts.resize(t.height);
    std::vector<std::uint8_t> row(in_row);
    for (PixelReader::Mark& start : starts) {
      start = reader.Here();
      if (Status st = reader.Read(row.data(), width); !st.ok()) return st;
    }
  }
  const std::size_t band = std::clamp<std::size_t>(kBandBytes / (width * 4), 1, t.height);
  std::vector<std::uint8_t> stored(band * in_row), samples(band * out_row);
  for (std::size_t y = 0; y < t.height;) {  // rows from the top
    const std::size_t rows = std::min(band, t.height - y);
    if (!t.top_down) {  // the band is stored rows [height - y - rows, height - y), bottom first
      const std::size_t first = t.height - y - rows;
      const PixelReader::Mark at =
          t.rle ? starts[first] : PixelReader::Mark{t.data_offset + first * in_row, 0};
      if (Status st = reader.Seek(at); !st.ok()) return st;
    }
    if (Status st = reader.Read(stored.data(), rows * width); !st.ok()) return st;
    for (std::size_t r = 0; r < rows; ++r) {
      const std::size_t to = t.top_down ? r : rows - 1 - r;
      ToSamples(t, map, &stored[r * in_row], width, &samples[to * out_row]);
    }
    if (Status st = take(samples.data(), rows); !st.ok()) return st;
    y += rows;
  }
  return Status::Ok();
}

}  // namespace pelt
