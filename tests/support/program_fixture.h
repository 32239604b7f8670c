// Runs the real program in the test's process: QuorvelMain with its own
// event loop, its panel and its package beside the test executable, while a
// scenario drives it with real clicks and key presses. The scenario runs
// inside the program's event loop; when it returns, the window is closed as
// an operator would, and the program's result is returned.
#pragma once

#include "loader_state.h"
#include "platform.h"
#include "popup_helper.h"
#include "startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>
#include <string>

namespace fixture {

inline QString packagePath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath("vers.kq");
}

inline QWidget *window()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->findChild<QWidget *>("GO"))
            return w;
    return nullptr;
}

inline QWidget *control(const char *name)
{
    QWidget *w = window();
    return w ? w->findChild<QWidget *>(name) : nullptr;
}

// Puts the state of a fresh process back, for a test that runs the program
// again in the same process.
inline void freshProcessState()
{
    ResetLoaderState(LoaderReset::Process);
}

inline int runProgram(const std::function<void()> &scenario)
{
    freshProcessState();
    QTimer::singleShot(0, [scenario] {
        if (QTest::qWaitForWindowExposed(window()))
            scenario();
        else  // the test fails: nothing it checks afterwards was seen by an operator
            QTest::qFail("the panel was never shown", __FILE__, __LINE__);
        if (QWidget *w = window())
            w->close();  // the close box: the program ends
        // Safety net: a popup left open would block the end.
        if (QWidget *popup = QApplication::activeModalWidget())
            popup->close();
    });
    static char name[] = "Quorvel";
    static char *argv[] = {name, nullptr};
    return QuorvelMain(1, argv);
}

inline void click(const char *name)
{
    QWidget *w = control(name);
    QVERIFY2(w && w->isVisible(), name);
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

// Start, then answers the instruction popup with `key` (Return = Ok).
inline std::shared_ptr<PopupSeen> pressStart(Qt::Key key = Qt::Key_Return)
{
    auto seen = answerNextPopup(key);
    click("GO");
    return seen;
}

inline QString log()
{
    std::string text;
    GetCtrlVal(loader.panel, 9 /* TEXTBOX */, &text);
    return QString::fromStdString(text);
}

inline int intValue(int control)
{
    int v = -99;
    GetCtrlVal(loader.panel, control, &v);
    return v;
}

inline int intAttribute(int control, CtrlAttribute attr)
{
    int v = -99;
    GetCtrlAttribute(loader.panel, control, attr, &v);
    return v;
}

inline QString labelOf(int control)
{
    std::string v;
    GetCtrlAttribute(loader.panel, control, ATTR_LABEL_TEXT, &v);
    return QString::fromStdString(v);
}

// True when `needles` appear in `haystack` in this order.
inline bool inOrder(const QString &haystack, const QStringList &needles)
{
    int from = 0;
    for (const QString &n : needles) {
        const int at = haystack.indexOf(n, from);
        if (at < 0)
            return false;
        from = at + n.size();
    }
    return true;
}

// Open file descriptors of this process that point at `path`.
inline int openDescriptorsOn(const QString &path)
{
    int count = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == path)
            ++count;
    return count;
}

} // namespace fixture
