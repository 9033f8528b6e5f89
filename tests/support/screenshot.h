// Screenshots of a test's X display, read back pixel by pixel: what a person would see of
// the wall.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "test_env.h"

namespace tilutest {

struct Rgb {
  int r, g, b;
  bool yellow() const { return r > 180 && g > 180 && b < 90; }
  bool black() const { return r < 24 && g < 24 && b < 24; }
};

// One screenshot of the whole display, read from a binary PPM.
class Screenshot {
 public:
  explicit Screenshot(const std::string& path) {
    if (run_command("import -window root -depth 8 ppm:" + path + " 2>/dev/null") != 0) return;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> width_ >> height_ >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) return;
    pixels_.resize(size_t(width_) * height_ * 3);
    in.read(reinterpret_cast<char*>(pixels_.data()), std::streamsize(pixels_.size()));
    if (!in) pixels_.clear();
  }
  bool ok() const { return !pixels_.empty(); }
  Rgb at(int x, int y) const {
    const size_t i = (size_t(y) * width_ + x) * 3;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
  }
  // Share of non-black pixels in the rectangle (sampled every 4 pixels).
  double lit_share(int x0, int y0, int x1, int y1) const {
    int lit = 0, all = 0;
    for (int y = y0; y < y1; y += 4) {
      for (int x = x0; x < x1; x += 4) {
        all++;
        lit += at(x, y).black() ? 0 : 1;
      }
    }
    return all ? double(lit) / all : 0.0;
  }

 private:
  int width_ = 0, height_ = 0;
  std::vector<unsigned char> pixels_;
};

// A view of cells w x h pixels at (x, y) on the screen: where cell (column, row) shows.
struct CellView {
  double x, y, w, h;
  int left(int column) const { return int(x + w * column); }
  int top(int row) const { return int(y + h * row); }
};

}  // namespace tilutest
