// Picture ring.
#include "picture_ring.h"

#include <QPainter>
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
    const QSize size = item->svg ? item->svg->defaultSize()
                                 : item->pixmap.deviceIndependentSize().toSize();
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    if (item->svg)
        item->svg->render(&painter, target);
    else
        painter.drawPixmap(target, item->pixmap);
    if (!isEnabled())
        painter.fillRect(target, QColor(255, 255, 255, 110));  // dimmed look
}

} // namespace platform
