// The transparent background of a picture launch: a PNG copy of the chosen picture in which
// every pixel of the background colour is fully transparent.
#pragma once

#include <QString>

namespace corvane::jobs {

// Where the copy of `picPath` goes: the whole name followed by ".png" (a.jpg -> a.jpg.png).
QString transparentPicturePath(const QString& picPath);

// Writes transparentPicturePath(picPath), replacing a file of that name. The background colour
// is the colour of the pixel at column 1, row 1 (counted from 0); every pixel of exactly that
// colour, alpha included, becomes fully transparent, every other pixel is copied unchanged. A
// picture one pixel wide or high has no such pixel and keeps every pixel. False when the picture
// cannot be loaded (nothing is written then) or the copy cannot be written; the picture itself
// is never changed.
bool makeBackgroundTransparent(const QString& picPath);

} // namespace corvane::jobs
