// The progress line of a quiet run on a terminal, on standard error: files and bytes written out
// of the plan's total, as "pelt: 12/340 files, 48.0/1310.7 MiB". It is rewritten in place (a
// carriage return, then the line) at most ten times a second, and erased before any other line
// is printed on the same stream and at the end, so that no report lands in the middle of it.
// The run decides whether it is shown (-q, and standard error a terminal) and gives the time.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "plan.h"

namespace pelt {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressLine(std::FILE* err) : err_(err) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { Stop(); }  // whatever way the run ends, the line does not stay

  // Shows the line for the writes of `plan` that are not refused, none done yet; a plan that
  // writes nothing shows none. Until Start, and after Stop, every other call does nothing.
  void Start(const Plan& plan, Clock::time_point now);
  // One more file written, of `bytes` bytes: redrawn when last drawn 100 ms or more before `now`.
  void Add(std::uint64_t bytes, Clock::time_point now);
  // Around another line on the stream: Hide erases the line, Show draws it again.
  void Hide();
  void Show();
  // Erases the line for good.
  void Stop();

 private:
  std::FILE* err_;
  bool started_ = false;
  std::size_t drawn_ = 0;  // the width of the line on the screen; 0: none shown
  Clock::time_point last_;
  std::uint64_t files_ = 0, total_files_ = 0;
  std::uint64_t bytes_ = 0, total_bytes_ = 0;
};

}  // namespace pelt
