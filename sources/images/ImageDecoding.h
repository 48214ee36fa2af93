#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

// Decoders for the pictures that come from outside the program. Each returns a null image or icon
// for bad input, never more than the input describes.

// PNG through libpng. Pictures beyond MaxPngSide pixels on a side are refused.
QImage DecodePng(const QByteArray &Data);
inline constexpr int MaxPngSide = 1024;

// An ICO file: accepted when its header type is 0 or 1, its directory fits the file and Qt's reader
// decodes it. All its sizes go into the icon.
QIcon DecodeIconFile(const QByteArray &Data);

// A BMP file, through Qt.
QImage DecodeBitmap(const QByteArray &Data);
