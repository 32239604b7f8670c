// Panel window.
#include "panel_window.h"

#include "picture_ring.h"
#include "text_message.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMetaProperty>
#include <QScreen>
#include <cmath>

namespace platform {

PanelWindow::PanelWindow(QWidget *parent) : QWidget(parent) {}

void PanelWindow::setFontPixelSize(int pixels)
{
    QFont f = font();
    f.setPixelSize(qMax(1, pixels));
    setFont(f);
}

namespace {

// The desktop font the panel's own 10-pixel type stands for: 10 points.
constexpr double kDrawnForPoints = 10.0;

QRect scaled(const QRect &r, double s)
{
    const int left = qRound(r.left() * s), top = qRound(r.top() * s);
    return QRect(left, top, qRound((r.left() + r.width()) * s) - left,
                 qRound((r.top() + r.height()) * s) - top);
}

// The places and sizes a control of ours keeps in its own properties (an
// LED's lamp, a label's place), in the control's pixels.
void scaleOwnGeometry(QWidget *w, double s)
{
    for (const QMetaObject *m = w->metaObject(); m; m = m->superClass()) {
        if (!QByteArray(m->className()).startsWith("platform::"))
            break;
        for (int i = m->propertyOffset(); i < m->propertyCount(); ++i) {
            QMetaProperty p = m->property(i);
            const QVariant v = p.read(w);
            switch (v.typeId()) {
            case QMetaType::QRect:
                p.write(w, scaled(v.toRect(), s));
                break;
            case QMetaType::QPoint:
                p.write(w, (QPointF(v.toPoint()) * s).toPoint());
                break;
            case QMetaType::QSize:
                p.write(w, (QSizeF(v.toSize()) * s).toSize());
                break;
            default:
                break;
            }
        }
    }
}

} // namespace

double PanelWindow::desktopFontScale()
{
    const QFont f = QApplication::font();
    double points = f.pointSizeF();
    if (points <= 0 && f.pixelSize() > 0) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        points = f.pixelSize() * 72.0 / (screen ? screen->logicalDotsPerInchY() : 96.0);
    }
    return points > kDrawnForPoints ? points / kDrawnForPoints : 1.0;
}

double PanelWindow::fitDesktopFont()
{
    double s = desktopFontScale();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // Room for the window's frame and title.
        const QSize room = screen->availableGeometry().size() - QSize(16, 48);
        const QSize own = maximumSize();
        s = std::min({s, double(room.width()) / own.width(), double(room.height()) / own.height()});
    }
    if (s <= 1.0)
        return 1.0;
    const QSize size = (QSizeF(maximumSize()) * s).toSize();
    setMinimumSize(size);
    setMaximumSize(size);
    resize(size);
    setFontPixelSize(qRound(fontPixelSize() * s));
    for (QObject *child : children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isWindow())
            continue;
        w->setGeometry(scaled(w->geometry(), s));
        scaleOwnGeometry(w, s);
        if (w->testAttribute(Qt::WA_SetFont)) {
            // A font of its own (the log's fixed pitch, a bold time) does
            // not follow the window's: it grows by the same factor.
            QFont f = w->font();
            if (f.pixelSize() > 0)
                f.setPixelSize(qRound(f.pixelSize() * s));
            else
                f.setPointSizeF(f.pointSizeF() * s);
            w->setFont(f);
        }
        if (auto *ring = qobject_cast<PictureRing *>(w))
            ring->setPictureScale(s);
        if (auto *message = qobject_cast<TextMessage *>(w))
            message->setValue(message->value());  // fits its width to the larger text
    }
    return s;
}

void PanelWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit closeRequested();
}

} // namespace platform
