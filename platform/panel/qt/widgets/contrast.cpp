// Readable text colours.
#include "contrast.h"

#include <cmath>

namespace platform {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor mix(const QColor &from, const QColor &to, double t)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * t),
                            float(from.greenF() + (to.greenF() - from.greenF()) * t),
                            float(from.blueF() + (to.blueF() - from.blueF()) * t));
}

} // namespace

double relativeLuminance(const QColor &colour)
{
    const QColor c = colour.toRgb();
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor blackOrWhiteOn(const QColor &background)
{
    return contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background)
               ? QColor(Qt::black)
               : QColor(Qt::white);
}

QColor legibleOn(const QColor &wanted, const QColor &background)
{
    return distinctOn(wanted, background, kLegibleContrast);
}

QColor distinctOn(const QColor &wanted, const QColor &background, double ratio)
{
    if (contrastRatio(wanted, background) >= ratio)
        return wanted;
    const QColor end = blackOrWhiteOn(background);
    constexpr int kSteps = 40;
    for (int step = 1; step < kSteps; ++step) {
        const QColor candidate = mix(wanted, end, double(step) / kSteps);
        if (contrastRatio(candidate, background) >= ratio)
            return candidate;
    }
    return end;
}

} // namespace platform
