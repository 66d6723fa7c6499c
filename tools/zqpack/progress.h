// Progress of long work: the library reports through a callback, the command
// line draws a bar on a terminal.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>

// Called with the work done so far and the whole amount, in bytes.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

// A one-line bar on stderr, drawn only when stderr is a terminal, the work is
// long enough to watch and -q was not given; cleared when done.
class ProgressBar {
 public:
  ProgressBar(std::string label, bool quiet);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(uint64_t done, uint64_t total);
  ProgressFn Callback();

 private:
  void Clear();

  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  int lastPercent_ = -1;
};
