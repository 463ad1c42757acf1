#include "progress.h"

namespace pelt {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

}  // namespace

void ProgressLine::Start(const Plan& plan, Clock::time_point now) {
  for (const PlannedWrite& w : plan.writes)
    if (w.refusal.ok()) ++total_files_;
  total_bytes_ = plan.write_bytes;
  started_ = total_files_ > 0;
  Show();
  last_ = now;
}

void ProgressLine::Add(std::uint64_t bytes, Clock::time_point now) {
  if (!started_) return;
  ++files_;
  bytes_ += bytes;
  if (now - last_ < kRedrawEvery) return;
  Show();
  last_ = now;
}

void ProgressLine::Hide() {
  if (drawn_ == 0) return;
  std::fprintf(err_, "\r%*s\r", static_cast<int>(drawn_), "");
  std::fflush(err_);
  drawn_ = 0;
}

void ProgressLine::Show() {
  if (!started_) return;
  char mib[64];
  std::snprintf(mib, sizeof mib, "%.1f/%.1f MiB", MiB(bytes_), MiB(total_bytes_));
  const std::string line =
      "pelt: " + std::to_string(files_) + "/" + std::to_string(total_files_) + " files, " + mib;
  // Counts only grow, so the new line is never narrower than the one it covers.
  std::fprintf(err_, "\r%s", line.c_str());
  std::fflush(err_);
  drawn_ = line.size();
}

void ProgressLine::Stop() {
  Hide();
  started_ = false;
}

}  // namespace pelt
