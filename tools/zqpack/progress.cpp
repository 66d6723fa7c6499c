#include "progress.h"

#include <stdio.h>

#include "fileio.h"

// Less than this goes by too fast to need a bar.
static constexpr uint64_t kWorthABarBytes = 4u << 20;
static constexpr int kBarCells = 30;

ProgressBar::ProgressBar(std::string label, bool quiet)
    : label_(std::move(label)), enabled_(!quiet && StderrIsTerminal()) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Update(uint64_t done, uint64_t total) {
  if (!enabled_ || total < kWorthABarBytes) return;
  const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  char cells[kBarCells + 1];
  for (int i = 0; i < kBarCells; ++i) cells[i] = i < percent * kBarCells / 100 ? '#' : '.';
  cells[kBarCells] = 0;
  fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), cells, percent);
  fflush(stderr);
  drawn_ = true;
}

ProgressFn ProgressBar::Callback() {
  return [this](uint64_t done, uint64_t total) { Update(done, total); };
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarCells + 8, "");
  fflush(stderr);
  drawn_ = false;
}
