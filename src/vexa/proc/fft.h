// TVXFtImage: the two-dimensional Fourier transform of an image.
//
// The image is centred in black padding on an N x N square (N the smallest power
// of two holding both sides) and each channel, first divided by its largest
// value, becomes one plane of N x N single-precision complex coefficients with the
// zero frequency moved to the centre (N/2, N/2):
//
//     X(k) = 1/sqrt(N) * sum over n of x(n) * exp(-2 pi i k n / N)   rows, then columns
//
// The inverse uses +i and the same 1/sqrt(N). Filters zero coefficients by their
// distance from the centre; the spectrum and the inverse are stretched to 0..255.
#pragma once

#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

enum TVXFtImageType { vxitUnknown, vxitRGB, vxitGrayscale };

class TVXFtImage : public TObject {
 public:
  /// The real and imaginary parts of one coefficient in each plane (null when absent).
  struct TComplexRefs {
    float* RedRe = nullptr;
    float* RedIm = nullptr;
    float* GreenRe = nullptr;
    float* GreenIm = nullptr;
    float* BlueRe = nullptr;
    float* BlueIm = nullptr;
    float* GreyRe = nullptr;
    float* GreyIm = nullptr;
  };

  TVXFtImage() = default;
  TVXFtImage(const TVXFtImage& other) { Assign(other); }
  TVXFtImage& operator=(const TVXFtImage& other) {
    if (this != &other) Assign(other);
    return *this;
  }

  void Assign(const TVXFtImage& source);
  void FreeAll();

  /// Builds the planes of `type` from a bitmap of any format (24-bit works best).
  void BuildFT(const TBitmap& bmp, TVXFtImageType type);
  /// bitmap := N x N, 24-bit: log magnitude of each plane stretched to 0..255
  /// (black where the plane is flat).
  void GetFTImage(TBitmap& bmp) const;
  /// bitmap := 24-bit, the size the transform was built from: the inverse
  /// transform, magnitudes stretched to 0..255. A flat plane (after LoPass(0), or
  /// of a uniform square image) is written at its own scale instead: the planes
  /// are normalised so that 1 is the brightest input value, and 1 maps to 255.
  void BuildBitmap(TBitmap& bmp) const;

  /// Zeroes every coefficient whose truncated distance from the centre is <= radius.
  void HiPass(int radius);
  /// Zeroes every coefficient whose truncated distance from the centre is > radius.
  void LoPass(int radius);
  /// Zeroes the coefficients with x1 <= x <= x2 and y1 <= y <= y2 (clipped to the square).
  void ClearZone(int x1, int y1, int x2, int y2);
  TComplexRefs GetComplexImage(int x, int y);

  TVXFtImageType ImageType() const { return FImageType; }
  int Size() const { return FSize; }
  int OffsetX() const { return FOffsetX; }
  int OffsetY() const { return FOffsetY; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  TProgressEvent OnProgress;
  TObject* ProgressSender = nullptr;

 private:
  // One plane: N rows, each N real parts followed by N imaginary parts.
  using TPlane = std::vector<float>;

  void BuildTables(int n);
  /// In place on n real and n imaginary parts (doubles), `direction` -1 or +1.
  void Transform1D(double* re, double* im, double direction) const;
  void Transform2D(TPlane& plane, double direction, int planeIndex, int planes) const;
  template <typename Pred>
  void ZeroWhere(Pred pred);
  std::vector<TPlane*> Planes();

  std::vector<double> FSin, FCos;
  std::vector<int32_t> FBitRev;
  std::vector<int32_t> FPow2;
  int FTableSize = 0;
  int FLog2 = 0;
  int FSize = 0;
  bool FNormalise = false;
  TPlane FRed, FGreen, FBlue, FGrey;
  int FOffsetX = 0, FOffsetY = 0;
  int FWidth = 0, FHeight = 0;
  TVXFtImageType FImageType = vxitUnknown;
};

}  // namespace vexa
