// PNG in, JPEG out, through the Windows Imaging Component.
#pragma once

#include <string>

namespace pagesnap {

struct JpegShape {
    unsigned width = 0;
    unsigned height = 0;
};

// Decodes `png`, scales it to `width` pixels if it is not that wide already, keeps at
// most `maxHeight` rows from the top, and writes a JPEG of good quality to `path`.
// The caller's COM apartment must be initialised.
bool WritePngAsJpeg(const std::string& png, unsigned width, unsigned maxHeight,
                    const std::string& path, JpegShape* shape, std::string* why);

}  // namespace pagesnap
