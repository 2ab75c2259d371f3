// The main window as the user meets it: layout, fonts and colours, focus,
// keys that must press nothing, the list model, and the ways the event loop
// ends.

#include "fake_price_files.h"
#include "price_column_model.h"
#include "price_file.h"
#include "start.h"
#include "ui_test_support.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>

#include <cmath>
#include <map>
#include <memory>

using namespace pricelookup;
using namespace pricelookup::testing;

namespace {

const QByteArray kPrices = "A100,Bolt,125,250\r\nB200,Nut,5,10\r\nC300,Washer,1,2\r\n";

// Windows's offscreen platform knows no fonts: there the tests of the faces
// run on the windows platform, on a desktop (main_window_test_fonts).
bool NoFontsHere() {
#ifdef Q_OS_WIN
    return QGuiApplication::platformName() == QLatin1String("offscreen");
#else
    return false;
#endif
}

QString Colour(const QColor& c) {
    if (c == QColor(192, 255, 255))
        return QStringLiteral("cyan");
    if (c == QColor(224, 224, 224))
        return QStringLiteral("grey");
    return QStringLiteral("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The colour that fills most of a label as drawn, its border left out.
QColor DrawnBackground(QWidget* label) {
    const QImage image = label->grab().toImage();
    std::map<QRgb, int> counts;
    for (int y = 2; y < image.height() - 2; ++y) {
        for (int x = 2; x < image.width() - 2; ++x)
            ++counts[image.pixel(x, y)];
    }
    auto most = counts.begin();
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        if (it->second > most->second)
            most = it;
    }
    return QColor::fromRgb(most->first);
}

QStringList HeaderColours(const MainWindow& window) {
    QStringList colours;
    for (const char* name : {"Label1", "Label3", "Label4", "Label5"}) {
        auto* label = window.findChild<QLabel*>(QLatin1String(name));
        colours << QStringLiteral("%1 %2").arg(QLatin1String(name), Colour(DrawnBackground(label)));
    }
    return colours;
}

// The contrast of two colours as the web's accessibility guidelines reckon it,
// from 1 (alike) to 21 (black on white).
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The drawn colour that stands out most from a label's background: its text.
QColor DrawnText(QWidget* label) {
    const QColor background = DrawnBackground(label);
    const QImage image = label->grab().toImage();
    QColor text = background;
    for (int y = 2; y < image.height() - 2; ++y) {
        for (int x = 2; x < image.width() - 2; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (Contrast(c, background) > Contrast(text, background))
                text = c;
        }
    }
    return text;
}

QString FocusName() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("<none>");
}

// Where every named control of the window sits, in pixels.
QStringList Geometries(const MainWindow& window) {
    QStringList rects;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->objectName().isEmpty())
            continue;
        const QRect r = child->geometry();
        rects << QStringLiteral("%1 %2,%3 %4x%5")
                     .arg(child->objectName())
                     .arg(r.x())
                     .arg(r.y())
                     .arg(r.width())
                     .arg(r.height());
    }
    rects.sort();
    return rects;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsStandAtTheirDesignRectangles();
    void headerLabelsUseABoldSerifFont();
    void listsShowOneColumnHeadedPartNo();
    void searchBoxTakesATextOfAnyLength();
    void focusStartsInThePartCodeListAndTabCycles();
    void headerHighlightFollowsFocusIntoEveryList();
    void selectedRowsShowInListsWithoutFocusInTheInactiveColour();
    void theFocusedListIsMarked();
    void captionsFitInsideTheirBorders();
    void enterAndEscPressNoButton();
    void enterAndSpacePressTheFocusedButton();
    void resizingMovesNoControl();
    void columnModelPassesTheModelTester();
    void cutOffCellsShowTheirTextInATooltip();
    void columnEdgesDragAndTheRowsKeepTheirLines();
    void headerCaptionsReadOnADarkPalette();
    void exitEndsTheEventLoopAtOnce();
    void exitAsSoonAsTheWindowShowsEndsTheEventLoop();
    void closingTheWindowEndsTheEventLoop();
};

void MainWindowTest::controlsStandAtTheirDesignRectangles() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(window.Loaded());

    const QStringList expected = {
        R"-(window "Velloran (12/9/2000)" 9480x6795)-",
        R"-(Label1 "National Part Code" 150,105 1605x315)-",
        R"-(Label3 "Description" 1815,105 4830x315)-",
        R"-(Label4 "Cost Price" 6705,90 1215x315)-",
        R"-(Label5 "Retail Price" 7965,90 1440x315)-",
        R"-(ListView1 "" 150,450 1620x5700)-",
        R"-(ListView2 "" 1785,450 4890x5700)-",
        R"-(ListView3 "" 6690,435 1245x5700)-",
        R"-(ListView4 "" 7950,420 1485x5715)-",
        R"-(Label7 "Search For:" 150,6300 900x255)-",
        R"-(Text1 "" 1080,6300 3795x300)-",
        R"-(Command2 "Search" 4965,6300 1200x315)-",
        R"-(Command1 "Exit" 8235,6300 1200x315)-",
    };
    QStringList actual = {QStringLiteral(R"-(window "%1" %2x%3)-")
                              .arg(window.windowTitle())
                              .arg(window.width() * 15)
                              .arg(window.height() * 15)};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        const QString name = expected[i].section(QLatin1Char(' '), 0, 0);
        QWidget* widget = window.findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(widget))
            text = button->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            text = edit->text();
        const QRect r = widget->geometry();
        actual << QStringLiteral(R"-(%1 "%2" %3,%4 %5x%6)-")
                      .arg(name, text)
                      .arg(r.x() * 15)
                      .arg(r.y() * 15)
                      .arg(r.width() * 15)
                      .arg(r.height() * 15);
    }
    QCOMPARE(actual, expected);

    for (const char* name : {"Label1", "Label3", "Label4", "Label5"}) {
        auto* label = window.findChild<QLabel*>(QLatin1String(name));
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QCOMPARE(label->frameShape(), QFrame::Box);
        QCOMPARE(label->lineWidth(), 1);
    }
    auto* label7 = window.findChild<QLabel*>(QStringLiteral("Label7"));
    QVERIFY(label7->alignment() & Qt::AlignLeft);
    QCOMPARE(label7->frameShape(), QFrame::NoFrame);
}

void MainWindowTest::headerLabelsUseABoldSerifFont() {
    if (NoFontsHere())
        QSKIP("no fonts on this platform");
    PriceDir dir(kPrices);
    MainWindow window;
    for (const char* name : {"Label1", "Label3", "Label4", "Label5"}) {
        auto* label = window.findChild<QLabel*>(QLatin1String(name));
        const QFont font = label->font();
        const QFontInfo used(font);
        // Times New Roman itself, or the serif face the system puts in its place.
        const QString family = used.family();
        const bool serif =
            (family.contains(QLatin1String("Times")) || family.contains(QLatin1String("Serif"))) &&
            !family.contains(QLatin1String("Sans"));
        QVERIFY2(serif, qPrintable(QStringLiteral("%1 is drawn in %2").arg(name, family)));
        QCOMPARE(font.pointSizeF(), 9.75);
        QCOMPARE(used.pixelSize(), 13); // 9.75 pt at 96 dpi
        QVERIFY(used.bold());
        QVERIFY(!used.italic());
        QVERIFY(!font.underline());
        QVERIFY(!font.strikeOut());
    }
    // The search caption keeps the default face; its size may step down to fit.
    auto* label7 = window.findChild<QLabel*>(QStringLiteral("Label7"));
    QCOMPARE(QFontInfo(label7->font()).family(), QFontInfo(QApplication::font(label7)).family());
    QVERIFY(!QFontInfo(label7->font()).bold());
}

void MainWindowTest::listsShowOneColumnHeadedPartNo() {
    PriceDir dir(kPrices);
    MainWindow window;
    const int widths[] = {1440, 3300, 1440, 1440};
    for (int n = 1; n <= 4; ++n) {
        PriceListView* list = List(window, n);
        QCOMPARE(list->model()->columnCount(), 1);
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Part No"));
        // The list's whole width, whatever it was designed with.
        QVERIFY(widths[n - 1] > 0);
        QCOMPARE(list->ColumnWidth(), list->viewport()->width());
        QHeaderView* header = list->HorizontalHeader();
        QVERIFY(!header->isHidden());
        QCOMPARE(header->model(), list->model());
        QCOMPARE(header->sectionSize(0), list->ColumnWidth());
    }
}

void MainWindowTest::searchBoxTakesATextOfAnyLength() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    const QString pasted = QStringLiteral("A100") + QString(40000, QLatin1Char('x'));
    QApplication::clipboard()->setText(pasted);
    text1->setFocus();
    QTest::keyClick(text1, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(text1->text().size(), pasted.size());
    QCOMPARE(window.FoundItem(), std::nullopt);
}

void MainWindowTest::focusStartsInThePartCodeListAndTabCycles() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(!window.isVisible());
    QVERIFY(OpenWindow(window));
    QCOMPARE(FocusName(), QStringLiteral("ListView1"));
    QCOMPARE(window.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), QString());

    QStringList forward;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << FocusName();
    }
    QCOMPARE(forward, QStringList({"ListView2", "ListView3", "ListView4", "Command1", "Text1",
                                   "Command2", "ListView1"}));

    QStringList backward;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        backward << FocusName();
    }
    QCOMPARE(backward, QStringList({"Command2", "Text1", "Command1", "ListView4", "ListView3",
                                    "ListView2", "ListView1"}));
}

void MainWindowTest::headerHighlightFollowsFocusIntoEveryList() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    const QStringList first = {"Label1 cyan", "Label3 grey", "Label4 grey", "Label5 grey"};
    const QStringList second = {"Label1 grey", "Label3 cyan", "Label4 grey", "Label5 grey"};
    QCOMPARE(HeaderColours(window), first);

    ClickRow(*List(window, 2), 1);
    QCOMPARE(FocusName(), QStringLiteral("ListView2"));
    QCOMPARE(HeaderColours(window), second);
    ClickRow(*List(window, 1), 0);
    QCOMPARE(HeaderColours(window), first);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(HeaderColours(window), second);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(HeaderColours(window), first);

    // Into the price lists too; focus leaving a list for the search row
    // changes no colour.
    const QStringList third = {"Label1 grey", "Label3 grey", "Label4 cyan", "Label5 grey"};
    const QStringList fourth = {"Label1 grey", "Label3 grey", "Label4 grey", "Label5 cyan"};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    const std::pair<const char*, QStringList> steps[] = {
        {"ListView3", third}, {"ListView4", fourth}, {"Command1", fourth},
        {"Text1", fourth},    {"Command2", fourth},
    };
    for (const auto& [next, colours] : steps) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(FocusName(), QLatin1String(next));
        QCOMPARE(HeaderColours(window), colours);
    }
    ClickRow(*List(window, 3), 0);
    QCOMPARE(HeaderColours(window), third);
    ClickRow(*List(window, 2), 0);
    QTest::mouseClick(window.findChild<QLineEdit*>(QStringLiteral("Text1")), Qt::LeftButton);
    QCOMPARE(FocusName(), QStringLiteral("Text1"));
    QCOMPARE(HeaderColours(window), second);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(FocusName(), QStringLiteral("Command2"));
    QCOMPARE(HeaderColours(window), second);
}

void MainWindowTest::selectedRowsShowInListsWithoutFocusInTheInactiveColour() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    ClickRow(*List(window, 1), 1);
    QCOMPARE(SelectedRows(window), QList<int>({1, 1, 1, 1}));

    // A spot at the right of a row, clear of its text and of the focus frame.
    const auto drawn = [&](int n, int row) {
        PriceListView* list = List(window, n);
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        const int x = std::min(rect.right(), list->viewport()->width() - 1) - 3;
        return list->viewport()->grab().toImage().pixelColor(x, rect.center().y());
    };
    // The style shades a colour a little.
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <=
               12;
    };
    const QColor active = List(window, 1)->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor background = drawn(1, 0);
    const QColor kept = drawn(2, 1);
    // The focused list in the active selection colour, the other three in
    // another one, which still stands out from the rows around it.
    QVERIFY2(near(drawn(1, 1), active), qPrintable(drawn(1, 1).name()));
    QVERIFY2(!near(kept, active), qPrintable(kept.name()));
    QVERIFY2(!near(kept, background), qPrintable(kept.name()));
    for (int n = 2; n <= 4; ++n) {
        QVERIFY2(near(drawn(n, 1), kept), qPrintable(drawn(n, 1).name()));
        QVERIFY2(near(drawn(n, 0), background), qPrintable(drawn(n, 0).name()));
    }
    // The focus moves: so does the active colour.
    QTest::keyClick(List(window, 1), Qt::Key_Tab);
    QVERIFY(near(drawn(2, 1), active));
    QVERIFY(near(drawn(1, 1), kept));

    // While another window is the active one, all four keep their selection.
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!window.isActiveWindow());
    for (int n = 1; n <= 4; ++n)
        QVERIFY2(near(drawn(n, 1), kept), qPrintable(drawn(n, 1).name()));
}

void MainWindowTest::theFocusedListIsMarked() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    for (int n = 1; n <= 4; ++n) {
        PriceListView* list = List(window, n);
        // Focus by the mouse, which some styles leave unmarked.
        ClickRow(*list, 1);
        QCOMPARE(FocusName(), list->objectName());
        const QImage focused = list->grab().toImage();
        text1->setFocus();
        QVERIFY(!list->hasFocus());
        QVERIFY2(list->grab().toImage() != focused, qPrintable(list->objectName()));
    }
}

// Every caption keeps clear of its label's border, at any screen scale: a
// column of background at least one pixel wide on either side of the text,
// or at the right of a left-aligned caption without a border.
void MainWindowTest::captionsFitInsideTheirBorders() {
    if (NoFontsHere())
        QSKIP("no fonts on this platform");
    PriceDir dir(kPrices);
    MainWindow window;
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (auto* label : window.findChildren<QLabel*>()) {
        const QImage image = label->grab().toImage();
        const qreal scale = image.devicePixelRatio();
        const int border = label->frameWidth();
        const int inner = qCeil((border + 1) * scale); // the border and one pixel clear of it
        const QColor background = label->palette().color(label->backgroundRole());
        const auto inked = [&](int x) {
            for (int y = qCeil(border * scale); y < image.height() - qCeil(border * scale); ++y) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.lightness() - background.lightness()) > 60)
                    return true;
            }
            return false;
        };
        QString stray;
        for (int x = qCeil(border * scale); x < inner; ++x) {
            if ((border > 0 && inked(x)) || inked(image.width() - 1 - x))
                stray += QStringLiteral(" %1").arg(x);
        }
        QVERIFY2(stray.isEmpty(), qPrintable(QStringLiteral("%1 \"%2\" at %3: ink in columns%4")
                                                 .arg(label->objectName(), label->text())
                                                 .arg(scale)
                                                 .arg(stray)));
        // And the caption as a whole, measured.
        const int room = label->contentsRect().width();
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= room,
                 qPrintable(label->objectName()));
    }
    // The labels keep their rectangles and stand clear of one another.
    const QStringList design = Geometries(window);
    QCOMPARE(design.size(), 12);
    const auto children = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : children) {
        for (QWidget* b : children) {
            if (a != b && !a->objectName().isEmpty() && !b->objectName().isEmpty())
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + QStringLiteral(" / ") + b->objectName()));
        }
    }
}

void MainWindowTest::enterAndEscPressNoButton() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    QSignalSpy exitClicks(window.findChild<QPushButton*>(QStringLiteral("Command1")),
                          &QPushButton::clicked);
    QSignalSpy searchClicks(window.findChild<QPushButton*>(QStringLiteral("Command2")),
                            &QPushButton::clicked);
    MessageBoxCloser boxes;
    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    // "Z" matches nothing, so a pressed Search would show its box.
    QTest::keyClicks(text1, QStringLiteral("Z"));

    for (QWidget* target : {static_cast<QWidget*>(List(window, 1)),
                            static_cast<QWidget*>(List(window, 3)), static_cast<QWidget*>(text1)}) {
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    QCOMPARE(exitClicks.count(), 0);
    QCOMPARE(searchClicks.count(), 0);
    QCOMPARE(boxes.Closed(), 0);
    QVERIFY(window.isVisible());
}

void MainWindowTest::enterAndSpacePressTheFocusedButton() {
    PriceDir dir(kPrices);
    MainWindow window;
    QVERIFY(OpenWindow(window));
    MessageBoxCloser boxes;
    QTest::keyClicks(window.findChild<QLineEdit*>(QStringLiteral("Text1")), QStringLiteral("Z"));
    auto* search = window.findChild<QPushButton*>(QStringLiteral("Command2"));
    QSignalSpy searchClicks(search, &QPushButton::clicked);
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Return);
    QTest::keyClick(search, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(search, Qt::Key_Space);
    QCOMPARE(searchClicks.count(), 3);
    QCOMPARE(boxes.Closed(), 3);
    QCOMPARE(boxes.Text(), QStringLiteral("Item not Found!"));
    QTest::keyClick(search, Qt::Key_Escape);
    QCOMPARE(searchClicks.count(), 3);

    auto* exit = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    QSignalSpy exitClicks(exit, &QPushButton::clicked);
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    QCOMPARE(exitClicks.count(), 1);
}

void MainWindowTest::resizingMovesNoControl() {
    PriceDir dir(kPrices);
    MainWindow window;
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList design = Geometries(window);
    QCOMPARE(design.size(), 12);

    window.resize(800, 580);
    QTRY_COMPARE(window.size(), QSize(800, 580));
    QCOMPARE(Geometries(window), design);
    window.resize(300, 200);
    QTRY_COMPARE(window.size(), QSize(300, 200));
    QCOMPARE(Geometries(window), design);
    window.showMaximized();
    QTRY_VERIFY(window.isMaximized());
    QCOMPARE(Geometries(window), design);
}

void MainWindowTest::columnModelPassesTheModelTester() {
    PriceTable table;
    QVERIFY(testing::LoadPriceBytes("A100,\"Bolt, hex\",125,250\r\nB200,Nut\r\n", table, {}).ok);
    PriceTable other;
    QVERIFY(testing::LoadPriceBytes("Caf\xE9,\x80 5,1,2", other, {}).ok);

    const QStringList expected[] = {
        {"A100", "B200"}, {"Bolt, hex", "Nut"}, {"1.25", "0.00"}, {"2.50", "0.00"}};
    for (int column = 1; column <= 4; ++column) {
        PriceColumnModel model(column);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 0);
        model.SetTable(&table, TextEncoding::Utf8);
        QStringList texts;
        for (int row = 0; row < model.rowCount(); ++row)
            texts << model.data(model.index(row, 0)).toString();
        QCOMPARE(texts, expected[column - 1]);

        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Part No"));
        QCOMPARE(model.headerData(0, Qt::Vertical), QVariant());
        QCOMPARE(model.data(QModelIndex()), QVariant());
        QCOMPARE(model.index(2, 0), QModelIndex());
        QCOMPARE(model.index(0, 1), QModelIndex());
        for (int role : {int(Qt::EditRole), int(Qt::ToolTipRole), int(Qt::UserRole) + 1})
            QCOMPARE(model.data(model.index(0, 0), role), QVariant());

        // A table that is not UTF-8 is shown as Windows-1252.
        model.SetTable(&other, TextEncoding::Windows1252);
        QCOMPARE(model.rowCount(), 1);
    }
    PriceColumnModel codes(PartCode);
    codes.SetTable(&other, TextEncoding::Windows1252);
    QCOMPARE(codes.data(codes.index(0, 0)).toString(), QStringLiteral("Café"));
    PriceColumnModel descriptions(Description);
    descriptions.SetTable(&other, TextEncoding::Windows1252);
    QCOMPARE(descriptions.data(descriptions.index(0, 0)).toString(), QStringLiteral("€ 5"));
}

void MainWindowTest::cutOffCellsShowTheirTextInATooltip() {
    const QString longText = QStringLiteral("Hexagon head bolt zinc plated M12 x 150 mm ") +
                             QStringLiteral("fine thread in a pack of fifty for the rear axle");
    PriceDir dir("A100," + longText.toUtf8() + ",125,250\r\nB200,Nut,5,10\r\n");
    MainWindow window;
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto tipAt = [&](int n, int row) {
        PriceListView* list = List(window, n);
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000))
            return QStringLiteral("<stuck>");
        const QRect cell = list->visualRect(list->model()->index(row, 0));
        const QPoint at(std::min(cell.center().x(), list->viewport()->width() / 2),
                        cell.center().y());
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QStringLiteral("<none>");
    };
    QCOMPARE(tipAt(2, 0), longText);
    QCOMPARE(tipAt(2, 1), QStringLiteral("<none>"));
    QCOMPARE(tipAt(1, 0), QStringLiteral("<none>"));
    // A short text that the list's edge cuts, once the column is scrolled.
    PriceListView* codes = List(window, 1);
    codes->HorizontalHeader()->resizeSection(0, codes->viewport()->width() * 3);
    codes->horizontalScrollBar()->setValue(codes->horizontalScrollBar()->maximum());
    QCOMPARE(tipAt(1, 0), QStringLiteral("A100"));
    QToolTip::hideText();
}

void MainWindowTest::columnEdgesDragAndTheRowsKeepTheirLines() {
    QByteArray file;
    for (int row = 0; row < 200; ++row)
        file += QStringLiteral("P%1,A part with a long description,%1,%1\r\n").arg(row).toLatin1();
    PriceDir dir(file);
    MainWindow window;
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ClickRow(*List(window, 1), 5);
    // The lines on which each list's rows stand, in the window.
    const auto lines = [&] {
        QStringList out;
        for (int n = 1; n <= 4; ++n) {
            const PriceListView* list = List(window, n);
            out << QStringLiteral("top %1 at %2, %3 rows of %4")
                       .arg(list->TopRow())
                       .arg(list->viewport()->mapTo(&window, QPoint()).y())
                       .arg(list->PageRows())
                       .arg(list->RowHeight());
        }
        return out;
    };
    const QStringList before = lines();
    QCOMPARE(before, QStringList(4, before[0]));

    // The user drags the edge of each list's header, wider and then narrower.
    for (int n = 1; n <= 4; ++n) {
        PriceListView* list = List(window, n);
        QHeaderView* header = list->HorizontalHeader();
        const auto drag = [&](int by) {
            const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
            const QPoint from(std::min(edge, header->viewport()->width() - 1),
                              header->height() / 2);
            const QPoint to = from + QPoint(by, 0);
            QTest::mousePress(header->viewport(), Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, to, header->viewport()->mapToGlobal(to),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &move);
            QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
        };
        const int width = list->ColumnWidth();
        drag(-30);
        QCOMPARE(list->ColumnWidth(), width - 30);
        drag(+50);
        QCOMPARE(list->ColumnWidth(), width + 20);
        QCOMPARE(lines(), before);
    }
    QCOMPARE(SelectedRows(window), QList<int>({5, 5, 5, 5}));
}

void MainWindowTest::headerCaptionsReadOnADarkPalette() {
    // As a dark desktop theme gives it: light text on dark faces.
    const QPalette original = QApplication::palette();
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 238));
    dark.setColor(QPalette::Text, QColor(238, 238, 238));
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    QApplication::setPalette(dark);
    const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });

    PriceDir dir(kPrices);
    MainWindow window;
    window.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto check = [&] {
        for (const char* name : {"Label1", "Label3", "Label4", "Label5"}) {
            auto* label = window.findChild<QLabel*>(QLatin1String(name));
            const double contrast = Contrast(DrawnText(label), DrawnBackground(label));
            QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(name).arg(contrast)));
        }
    };
    check();
    QTest::keyClick(List(window, 1), Qt::Key_Tab);
    check();
    // The search caption keeps the desktop's colours.
    auto* label7 = window.findChild<QLabel*>(QStringLiteral("Label7"));
    QCOMPARE(label7->palette().color(QPalette::WindowText), QColor(238, 238, 238));
}

// Runs the event loop; a loop that nothing ends returns 99 after 20 s.
static int ExecWithWatchdog() {
    QTimer hang;
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    hang.start(20000);
    return QCoreApplication::exec();
}

void MainWindowTest::exitEndsTheEventLoopAtOnce() {
    PriceDir dir(kPrices);
    const std::unique_ptr<MainWindow> opened = OpenPriceLookup();
    QVERIFY(opened);
    MainWindow& window = *opened;
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClicks(window.findChild<QLineEdit*>(QStringLiteral("Text1")), QStringLiteral("B"));
    ClickRow(*List(window, 3), 2);
    QWidget* wait = FindWaitWindow();
    QVERIFY(wait && !wait->isVisible());

    MessageBoxCloser boxes;
    QTimer::singleShot(0, &window, [&] {
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")),
                          Qt::LeftButton);
    });
    QCOMPARE(ExecWithWatchdog(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(!wait->isVisible());
    QCOMPARE(boxes.Closed(), 0);
}

// Exit pressed the very moment the window shows is not lost: nothing runs
// the events in between before the program's own event loop.
void MainWindowTest::exitAsSoonAsTheWindowShowsEndsTheEventLoop() {
    class PressExitOnShow : public QObject {
    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* window = qobject_cast<MainWindow*>(watched);
            if (window && event->type() == QEvent::Show) {
                QMetaObject::invokeMethod(
                    window->findChild<QPushButton*>(QStringLiteral("Command1")), "click",
                    Qt::QueuedConnection);
            }
            return false;
        }
    } press;
    PriceDir dir(kPrices);
    qApp->installEventFilter(&press);
    const std::unique_ptr<MainWindow> window = OpenPriceLookup();
    qApp->removeEventFilter(&press);
    QVERIFY(window);
    QCOMPARE(ExecWithWatchdog(), 0);
    QVERIFY(!window->isVisible());
}

void MainWindowTest::closingTheWindowEndsTheEventLoop() {
    PriceDir dir(kPrices);
    const std::unique_ptr<MainWindow> opened = OpenPriceLookup();
    QVERIFY(opened);
    MainWindow& window = *opened;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget* wait = FindWaitWindow();
    QVERIFY(wait && !wait->isVisible());

    MessageBoxCloser boxes;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QCOMPARE(ExecWithWatchdog(), 0);
    QVERIFY(!window.isVisible());
    QCOMPARE(boxes.Closed(), 0);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
