// The start-up load: the progress window and its bar, and the table it
// leaves. (A price file that cannot be opened: file_faults_test.)

#include "progress.h"
#include "ui_test_support.h"

#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QtTest>

#include <climits>

using namespace pricelookup;
using namespace pricelookup::testing;

namespace {

// Watches the progress window come and go, and every value its bar takes.
class WaitWindowWatch : public QObject {
public:
    WaitWindowWatch() { qApp->installEventFilter(this); }
    ~WaitWindowWatch() override { qApp->removeEventFilter(this); }

    int shown = 0;
    int hidden = 0;
    bool mainWindowVisibleAtShow = false;
    QPoint centreAtShow;
    QStringList bar; // "value/maximum" after each change of the value

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType() || watched->objectName() != QLatin1String("frmWait"))
            return false;
        auto* window = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show) {
            ++shown;
            centreAtShow = window->frameGeometry().center();
            for (QWidget* top : QApplication::topLevelWidgets())
                mainWindowVisibleAtShow |= qobject_cast<MainWindow*>(top) && top->isVisible();
            auto* progress = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
            connect(progress, &QProgressBar::valueChanged, this, [this, progress](int value) {
                bar << QStringLiteral("%1/%2").arg(value).arg(progress->maximum());
            });
        } else if (event->type() == QEvent::Hide) {
            ++hidden;
        }
        return false;
    }
};

QByteArray Lines(int count, int length, const QByteArray& ending) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += QByteArray::number(i).leftJustified(length, 'x') + ending;
    return bytes;
}

QString Twips(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(r.x() * 15)
        .arg(r.y() * 15)
        .arg(r.width() * 15)
        .arg(r.height() * 15);
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void barAdvancesByEachLineLength_data();
    void barAdvancesByEachLineLength();
    void countSkipsOnlyTheLinesThatWouldPassTheMaximum();
    void countScalesFilesPastIntForTheBar_data();
    void countScalesFilesPastIntForTheBar();
    void progressWindowIsShownAloneThenHidden();
    void tableHoldsEveryLineAsARow();
};

void StartupTest::barAdvancesByEachLineLength_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("barMax");
    QTest::addColumn<int>("barValue");
    QTest::addColumn<int>("rows");
    QTest::newRow("one line, no ending") << QByteArray("A1,B,100,200") << 22 << 22 << 1;
    QTest::newRow("one line, CR LF") << QByteArray("A1,B,100,200\r\n") << 24 << 22 << 1;
    QTest::newRow("1000 lines of 50, CR LF") << Lines(1000, 50, "\r\n") << 52010 << 50010 << 1000;
    QTest::newRow("empty line between records")
        << QByteArray("A1,B,100,200\r\n\r\nB2,C,300,400") << 38 << 34 << 3;
    QTest::newRow("CR endings") << QByteArray("A1,B,1,2\rB2,C,3,4\r") << 28 << 26 << 2;
    QTest::newRow("empty file") << QByteArray() << 10 << 10 << 0;
}

void StartupTest::barAdvancesByEachLineLength() {
    QFETCH(QByteArray, file);
    QFETCH(int, barMax);
    QFETCH(int, barValue);
    QFETCH(int, rows);
    PriceDir dir(file);
    WaitWindowWatch watch;
    MainWindow window;
    QVERIFY(window.Loaded());
    QCOMPARE(int(window.Table().size()), rows);
    QCOMPARE(window.Progress().Max(), quint64(barMax));
    QCOMPARE(window.Progress().Value(), quint64(barValue));

    QWidget* wait = FindWaitWindow();
    QVERIFY(wait);
    auto* bar = wait->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), barMax);
    QCOMPARE(bar->value(), barValue);

    // 10 is written while the maximum is still 100; no value ever passes the
    // maximum, and the bar never goes back.
    QVERIFY(!watch.bar.isEmpty());
    QCOMPARE(watch.bar.first(), QStringLiteral("10/100"));
    QCOMPARE(watch.bar.last().section(QLatin1Char('/'), 0, 0).toInt(), barValue);
    int previous = 0;
    for (const QString& step : std::as_const(watch.bar)) {
        const int value = step.section(QLatin1Char('/'), 0, 0).toInt();
        QVERIFY2(value <= step.section(QLatin1Char('/'), 1, 1).toInt(), qPrintable(step));
        QVERIFY2(value >= previous, qPrintable(step));
        previous = value;
    }
}

void StartupTest::countSkipsOnlyTheLinesThatWouldPassTheMaximum() {
    ProgressCount count;
    count.Start(10);
    QCOMPARE(count.Max(), 20u);
    QCOMPARE(count.Value(), 10u);
    QList<quint64> values;
    for (std::uint64_t line : {11, 4, 7, 6, 1, 0}) {
        count.Step(line);
        values << count.Value();
    }
    // 11 and 7 would pass 20 and add nothing; the 4 and 6 after them still fit.
    QCOMPARE(values, QList<quint64>({10, 14, 14, 20, 20, 20}));
    QCOMPARE(count.BarValue(), 20);
    QCOMPARE(count.BarMax(), 20);

    count.Start(UINT64_MAX - 20); // a restart forgets the old count
    QCOMPARE(count.Value(), 10u);
    count.Step(UINT64_MAX - 20);
    QCOMPARE(count.Value(), count.Max());
    count.Step(UINT64_MAX);
    QCOMPARE(count.Value(), count.Max());
}

void StartupTest::countScalesFilesPastIntForTheBar_data() {
    QTest::addColumn<quint64>("fileLength");
    QTest::addColumn<bool>("scaled");
    QTest::newRow("largest unscaled") << quint64(INT_MAX) - 10 << false;
    QTest::newRow("one byte more") << quint64(INT_MAX) - 9 << true;
    QTest::newRow("2 GiB") << (quint64(1) << 31) << true;
    QTest::newRow("3 GiB") << (quint64(3) << 30) << true;
    QTest::newRow("5 TiB") << (quint64(5) << 40) << true;
}

void StartupTest::countScalesFilesPastIntForTheBar() {
    QFETCH(quint64, fileLength);
    QFETCH(bool, scaled);
    ProgressCount count;
    count.Start(fileLength);
    QCOMPARE(count.Max(), fileLength + 10);
    QVERIFY(count.BarMax() <= INT_MAX);
    // Scaled no further than needed: the bar keeps its full resolution.
    QVERIFY(count.BarMax() > INT_MAX / 2);
    QCOMPARE(quint64(count.BarMax()) == count.Max(), !scaled);
    QVERIFY(count.BarValue() <= count.BarMax());

    // Half the file read shows as half the bar; all of it fills the bar.
    count.Step(fileLength / 2);
    const double half = double(count.BarValue()) / count.BarMax();
    QVERIFY2(std::abs(half - double(count.Value()) / double(count.Max())) < 1e-6,
             qPrintable(QString::number(half)));
    count.Step(fileLength - fileLength / 2);
    QCOMPARE(count.Value(), count.Max());
    QCOMPARE(count.BarValue(), count.BarMax());
}

void StartupTest::progressWindowIsShownAloneThenHidden() {
    PriceDir dir(Lines(20, 30, "\r\n"));
    WaitWindowWatch watch;
    MainWindow window;
    QVERIFY(window.Loaded());
    QCOMPARE(watch.shown, 1);
    QCOMPARE(watch.hidden, 1);
    QVERIFY(!watch.mainWindowVisibleAtShow);
    QVERIFY(!window.isVisible());

    QWidget* wait = FindWaitWindow();
    QVERIFY(wait);
    QVERIFY(!wait->isVisible());
    auto* label = wait->findChild<QLabel*>(QStringLiteral("Label1"));
    auto* bar = wait->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QVERIFY(label && bar);
    QCOMPARE(QStringList(
                 {QStringLiteral("frmWait \"%1\" %2x%3")
                      .arg(wait->windowTitle())
                      .arg(wait->width() * 15)
                      .arg(wait->height() * 15),
                  QStringLiteral("Label1 \"%1\" %2").arg(label->text(), Twips(label->geometry())),
                  QStringLiteral("ProgressBar1 %1").arg(Twips(bar->geometry()))}),
             QStringList({R"(frmWait "Processing..." 4680x1335)",
                          R"(Label1 "Processing, Please wait" 435,330 3825x255)",
                          "ProgressBar1 150,885 4410x225"}));
    QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(bar->orientation(), Qt::Horizontal);

    // A small fixed tool window.
    QCOMPARE(wait->windowType(), Qt::Tool);
    QVERIFY(!(wait->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(wait->minimumSize(), wait->size());
    QCOMPARE(wait->maximumSize(), wait->size());

    // Both windows stand centred on the screen, give or take the frame, which is
    // not known before a window is first shown.
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((watch.centreAtShow - centre).manhattanLength() <= 4,
             qPrintable(
                 QStringLiteral("%1,%2").arg(watch.centreAtShow.x()).arg(watch.centreAtShow.y())));
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY((window.frameGeometry().center() - centre).manhattanLength() <= 4);

    // The progress window never comes back.
    QTest::qWait(50);
    QCOMPARE(FindWaitWindow(), wait);
    QVERIFY(!wait->isVisible());
    QCOMPARE(watch.shown, 1);
}

void StartupTest::tableHoldsEveryLineAsARow() {
    PriceDir dir("A100,\"Bolt, hex M6\",125,250\r\n"
                 "B200,Nut\r\n"
                 "\"C300\",Washer,5,10\r\n"
                 "\r\n"
                 "D400,\"Pin \"\"split\"\"\",100000,1");
    MainWindow window;
    QVERIFY(window.Loaded());
    QCOMPARE(ScreenRows(window), QStringList({
                                     "A100 | Bolt, hex M6 | 1.25 | 2.50",
                                     "B200 | Nut | 0.00 | 0.00",
                                     "C300 | Washer | 0.05 | 0.10",
                                     " |  | 0.00 | 0.00",
                                     "D400 | Pin \"split\" | 1000.00 | 0.01",
                                 }));
    QCOMPARE(SelectedRows(window), QList<int>({-1, -1, -1, -1}));
    QCOMPARE(window.FoundItem(), std::nullopt);
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
