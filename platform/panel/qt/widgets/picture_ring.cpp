// Picture ring.
#include "picture_ring.h"

#include "contrast.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>
#include <qdrawutil.h>

namespace platform {

PictureRing::PictureRing(QWidget *parent) : QWidget(parent) {}

PictureRing::~PictureRing() = default;

void PictureRing::setValue(int value)
{
    value_ = value;
    update();
}

void PictureRing::setFramed(bool framed)
{
    framed_ = framed;
    update();
}

void PictureRing::setTinted(bool tinted)
{
    tinted_ = tinted;
    update();
}

void PictureRing::setOperable(bool operable)
{
    operable_ = operable;
    // By Tab only: a click on the flag leaves the focus where the operator had it.
    setFocusPolicy(operable ? Qt::TabFocus : Qt::NoFocus);
}

void PictureRing::press()
{
    if (operable_ && isEnabled() && isVisible())
        emit pressed();
}

void PictureRing::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (operable_ && !event->isAutoRepeat()
        && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        press();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PictureRing::setItems(const QStringList &items)
{
    itemTexts_ = items;
    items_.clear();
    itemsValid_ = true;
    for (const QString &text : items) {
        const qsizetype eq = text.indexOf(u'=');
        bool numeric = false;
        const int value = eq > 0 ? text.left(eq).trimmed().toInt(&numeric) : 0;
        const QString path = text.mid(eq + 1).trimmed();
        if (!numeric || path.isEmpty()) {
            itemsValid_ = false;
            continue;
        }
        Item item{value, path, nullptr, QPixmap()};
        if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
            item.svg = std::make_shared<QSvgRenderer>(path);
            if (!item.svg->isValid())
                itemsValid_ = false;
        } else if (!item.pixmap.load(path)) {
            itemsValid_ = false;
        }
        items_.push_back(std::move(item));
    }
    update();
}

const PictureRing::Item *PictureRing::currentItem() const
{
    for (const Item &item : items_)
        if (item.value == value_)
            return &item;
    return nullptr;
}

void PictureRing::setPictureScale(double scale)
{
    pictureScale_ = scale > 0 ? scale : 1.0;
    update();
}

QString PictureRing::currentPicture() const
{
    const Item *item = currentItem();
    return item ? item->path : QString();
}

void PictureRing::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (framed_)
        qDrawShadePanel(&painter, rect(), palette(), false, 1, &palette().brush(QPalette::Button));
    const Item *item = currentItem();
    if (!item)
        return;
    const QSize size = ((item->svg ? QSizeF(item->svg->defaultSize())
                                   : item->pixmap.deviceIndependentSize())
                        * pictureScale_).toSize();
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    if (tinted_) {
        // On the paper of the text box it lies over, whatever the palette.
        painter.fillRect(target, palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                                 QPalette::Base));
        painter.drawImage(target, inkImage(*item, size));
    }
    else if (item->svg)
        item->svg->render(&painter, target);
    else
        painter.drawPixmap(target, item->pixmap);
    if (!isEnabled() && !tinted_)
        painter.fillRect(target, QColor(255, 255, 255, 110));  // dimmed look
    if (hasFocus()) {
        // A solid ring two pixels wide between the frame and the flag, in the
        // desktop's highlight when it stands out at 3:1 on the frame's
        // colour, else in the button text's colour (a style's dotted focus
        // rectangle nearly vanishes there).
        const QColor behind = palette().color(QPalette::Button);
        QColor mark = palette().color(QPalette::Highlight);
        if (contrastRatio(mark, behind) < kFocusMarkContrast)
            mark = palette().color(QPalette::ButtonText);
        if (contrastRatio(mark, behind) < kFocusMarkContrast)
            mark = blackOrWhiteOn(behind);
        const int w = qMax(2, qRound(height() / 9.0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::NoBrush);
        const QRegion ring = QRegion(rect().adjusted(1, 1, -1, -1))
                                 .subtracted(QRegion(rect().adjusted(1 + w, 1 + w, -1 - w, -1 - w)));
        painter.setClipRegion(ring);
        painter.fillRect(rect(), mark);
        painter.setClipping(false);
    }
}

// The picture as ink: how dark each pixel is becomes how much of the text
// colour covers the background there, so white paper disappears and black
// lines take the colour text has on this palette.
QImage PictureRing::inkImage(const Item &item, QSize size) const
{
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    {
        QPainter p(&picture);
        if (item.svg)
            item.svg->render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
        else
            p.drawPixmap(QRect(QPoint(0, 0), size), item.pixmap);
    }
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::Text);
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        const QRgb *from = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        QRgb *to = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int darkness = 255 - qGray(from[x]);
            to[x] = qPremultiply(qRgba(ink.red(), ink.green(), ink.blue(), darkness));
        }
    }
    return out;
}

} // namespace platform
