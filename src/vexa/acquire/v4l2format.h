// What a Video4Linux2 device reports about its frames, turned into the format
// blocks of capture.h, and its frame buffers turned into the raw data those
// blocks describe. Kept apart from the ioctls so it can be tested and fuzzed:
// the numbers come from a driver and are checked like any outside data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa {

/// The fields of the driver's single-planar pixel format that matter here.
struct TVXV4L2Format {
  uint32_t PixelFormat = 0;  ///< V4L2 fourcc ('YUYV', 'MJPG', 'JPEG')
  uint32_t Width = 0, Height = 0;
  uint32_t BytesPerLine = 0;  ///< 0: tightly packed
  uint32_t SizeImage = 0;
};

/// The pixel formats frames are decoded from.
bool VXV4L2Supported(uint32_t pixelFormat);
std::string VXV4L2FormatName(uint32_t pixelFormat);
/// The format block for frames of f; empty when f is unsupported or its sizes
/// contradict each other or exceed the bitmap limit.
std::vector<uint8_t> VXV4L2FormatBlock(const TVXV4L2Format& f);
/// Copies one filled buffer (size bytes used) as raw frame data for that block:
/// YUYV rows lose their padding, JPEG data is taken whole. False when the buffer
/// is too short for the format (or empty).
bool VXV4L2CopyFrame(const TVXV4L2Format& f, const uint8_t* buffer, size_t size, std::vector<uint8_t>& out);

}  // namespace vexa
