// The windows on a desktop with a real window manager, which adds the frame
// only when it maps a window: the main window and the progress window still
// stand centred on the screen with their frames.

#include "start.h"
#include "ui_test_support.h"
#include "wait_window.h"

#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <QtTest>

#include <memory>

using namespace pricelookup;
using namespace pricelookup::testing;

namespace {

// How far the centre of the window with its frame is from the centre of the
// screen, once the window manager has framed and placed it.
QString OffCentre(const QWidget& window) {
    const QPoint screen = window.screen()->availableGeometry().center();
    const QPoint centre = window.frameGeometry().center();
    return QStringLiteral("%1,%2").arg(centre.x() - screen.x()).arg(centre.y() - screen.y());
}

bool Framed(const QWidget& window) {
    return window.windowHandle() && window.windowHandle()->frameMargins().top() > 0;
}

// The window manager's _NET_WM_ALLOWED_ACTIONS for a window, as xprop prints it.
QString AllowedActions(const QWidget& window) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                          QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
    xprop.waitForFinished(10000);
    return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

bool Centred(const QWidget& window) {
    const QPoint off =
        window.frameGeometry().center() - window.screen()->availableGeometry().center();
    return std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void windowsStandCentredWithTheirFrames();
};

void DesktopTest::windowsStandCentredWithTheirFrames() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "needs an X server with a window manager (tests/ui/on_desktop)");
    PriceDir dir("A100,Bolt,125,250\r\n");
    // As the program starts.
    const std::unique_ptr<MainWindow> opened = OpenPriceLookup();
    QVERIFY(opened);
    MainWindow& window = *opened;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY2(Framed(window), "the window manager gave the main window no frame");
    QTRY_VERIFY2_WITH_TIMEOUT(Centred(window), qPrintable(OffCentre(window)), 2000);

    WaitWindow wait;
    wait.Start(1000);
    QTRY_VERIFY2(Framed(wait), "the window manager gave the progress window no frame");
    QTRY_VERIFY2_WITH_TIMEOUT(Centred(wait), qPrintable(OffCentre(wait)), 2000);

    // What the window manager lets the user do with each window, as it
    // tells the desktop: the progress window is a fixed tool window.
    const QString waitActions = AllowedActions(wait);
    for (const char* action : {"MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE"})
        QVERIFY2(!waitActions.contains(QLatin1String(action)), qPrintable(waitActions));
    QVERIFY2(waitActions.contains(QLatin1String("CLOSE")), qPrintable(waitActions));
    const QString mainActions = AllowedActions(window);
    for (const char* action : {"MINIMIZE", "MAXIMIZE_HORZ", "RESIZE", "CLOSE"})
        QVERIFY2(mainActions.contains(QLatin1String(action)), qPrintable(mainActions));
    // Its close button does not stop the load.
    QVERIFY(!wait.close());
    QVERIFY(wait.isVisible());
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
