// Text colours that stay readable on whatever palette the desktop gives:
// contrast as the web's accessibility guidelines measure it (relative
// luminance, ratios from 1:1 to 21:1).
#pragma once

#include <QColor>

namespace platform {

// The least contrast the panel gives a text against what is behind it.
constexpr double kLegibleContrast = 4.5;
// The least contrast of what is not text (a focus mark, an unlit lamp)
// against what is behind it.
constexpr double kFocusMarkContrast = 3.0;

double relativeLuminance(const QColor &colour);
double contrastRatio(const QColor &a, const QColor &b);

// Black or white, whichever stands out more on `background`.
QColor blackOrWhiteOn(const QColor &background);

// `wanted` when it reads on `background`; otherwise the same colour moved
// towards black or white (whichever the background lets stand out more)
// just far enough to reach kLegibleContrast.
QColor legibleOn(const QColor &wanted, const QColor &background);
// As legibleOn, to `ratio` instead of kLegibleContrast.
QColor distinctOn(const QColor &wanted, const QColor &background, double ratio);

} // namespace platform
