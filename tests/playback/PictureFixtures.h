// Pictures and visible areas shared by the movie view's drawing tests.
#pragma once

#include "platform/Value.h"

#include <QtGui/QImage>
#include <QtGui/QPainter>

namespace picturefixtures {

inline platform::DictionaryPtr area(double x, double y, double w, double h)
{
    auto d = platform::Dictionary::make();
    d->setValue(QStringLiteral("x"), platform::Value(x));
    d->setValue(QStringLiteral("y"), platform::Value(y));
    d->setValue(QStringLiteral("w"), platform::Value(w));
    d->setValue(QStringLiteral("h"), platform::Value(h));
    return d;
}

// A 4 × 2 frame of quadrants: left half red on top, green below; right half blue on top,
// yellow below.
inline QImage quadrantFrame()
{
    QImage image(400, 200, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 200, 100, Qt::red);
    p.fillRect(0, 100, 200, 100, Qt::green);
    p.fillRect(200, 0, 200, 100, Qt::blue);
    p.fillRect(200, 100, 200, 100, Qt::yellow);
    return image;
}

} // namespace picturefixtures
