// TBitmap rows to QImage: the one conversion the Qt layer paints through.
#pragma once

#include <QImage>

#include "vexa/core/bitmap.h"
#include "vexa/view/viewgeometry.h"

namespace vexa {

/// The source rectangle of bmp scaled to dstW x dstH by nearest neighbour (each
/// destination pixel takes the source pixel under its centre), as RGB32. The
/// source rectangle must lie inside the bitmap; an empty one gives a null image.
QImage VXBitmapToQImage(const TBitmap& bmp, const TVXSourceRect& src, int dstW, int dstH);
/// The whole bitmap 1:1.
QImage VXBitmapToQImage(const TBitmap& bmp);
/// A QImage back into a 24-bit TBitmap.
void VXQImageToBitmap(const QImage& image, TBitmap& bmp);

}  // namespace vexa
