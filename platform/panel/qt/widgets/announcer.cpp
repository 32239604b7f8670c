// Screen-reader notifications of a panel window.
#include "announcer.h"

#include <QAccessible>

namespace platform {

Announcer::Announcer(QWidget *window) : QWidget(window)
{
    setObjectName(QStringLiteral("announcer"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 1, 1);  // on the window, so the reader counts it as showing; paints nothing
    hide();
}

void Announcer::announce(const QString &text)
{
    hide();
    message_ = text;
    if (QAccessible::isActive()) {
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
    show();  // the "showing" change a screen reader speaks
}

Announcer *Announcer::of(QWidget *window)
{
    if (auto *existing = window->findChild<Announcer *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new Announcer(window);
}

} // namespace platform
