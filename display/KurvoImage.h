// The pixels of a 32-bit QImage as the chart's raster loops (display/KurvoRaster.h) see them.
#pragma once

#include <QImage>

#include "display/KurvoRaster.h"

namespace rv8::kurvo {

// `img` must be Format_RGB32 or Format_ARGB32_Premultiplied. Writing detaches a shared image.
inline Surface SurfaceOf(QImage& img) {
    return Surface{reinterpret_cast<uint32_t*>(img.bits()), img.width(), img.height(),
                   img.bytesPerLine()};
}
inline ConstSurface ConstSurfaceOf(const QImage& img) {
    return ConstSurface{reinterpret_cast<const uint32_t*>(img.constBits()), img.width(),
                        img.height(), img.bytesPerLine()};
}

}  // namespace rv8::kurvo
