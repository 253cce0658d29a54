// Reads a JPEG the way a viewer would, for checking what the renderer wrote.
#pragma once

#include <string>
#include <vector>

namespace pagesnap_test {

struct Picture {
  bool valid = false;
  std::string error;
  unsigned width = 0;
  unsigned height = 0;
  std::vector<unsigned char> bgra;  // top-down rows

  // True when the pixel is within `tolerance` of the colour in every channel (JPEG is lossy).
  bool Near(unsigned x, unsigned y, int r, int g, int b, int tolerance = 16) const;
  std::string Describe(unsigned x, unsigned y) const;
};

Picture ReadJpeg(const std::wstring& path);

}  // namespace pagesnap_test
