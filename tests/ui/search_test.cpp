// Finding a part from the search box and the Search button, and the four
// lists keeping to one row when the user clicks or moves in any of them.
// Driven through the real window with keys and mouse clicks.

#include "ui_test_support.h"

#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

using namespace pricelookup;
using namespace pricelookup::testing;

namespace {

// kFourParts, then D0004 to D0499: 500 rows, far more than a list shows.
QByteArray LongFile() {
    QByteArray bytes = kFourParts;
    for (int row = 4; row < 500; ++row)
        bytes += QStringLiteral("D%1,Part %2,%2,%3\r\n")
                     .arg(row, 4, 10, QLatin1Char('0'))
                     .arg(row)
                     .arg(row * 2)
                     .toLatin1();
    return bytes;
}

// Test data of one row for each list, its number in `column`.
void OneRowPerList(const char* column) {
    QTest::addColumn<int>(column);
    for (int n = 1; n <= 4; ++n)
        QTest::addRow("ListView%d", n) << n;
}

// The program as the user has it in front of them, with its price file.
class Session {
public:
    explicit Session(const QByteArray& file) : dir_(file) {}
    ~Session() { unexpectedBoxes += boxes.Closed() - expectedBoxes; }

    bool Open() { return testing::OpenWindow(window); }

    PriceListView& List(int n) const { return *testing::List(window, n); }
    QLineEdit* Text1() const { return window.findChild<QLineEdit*>(QStringLiteral("Text1")); }
    QPushButton* Search() const {
        return window.findChild<QPushButton*>(QStringLiteral("Command2"));
    }

    void Type(const QString& text) {
        for (QChar c : text) {
            // The letter's key as a keyboard that has it sends it.
            const auto key = Qt::Key(c.isLetter() ? c.toUpper().unicode() : c.unicode());
            QTest::sendKeyEvent(QTest::Click, Text1(), key, QString(c), Qt::NoModifier);
        }
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(Text1(), key, modifiers);
    }
    void EmptyBox() {
        Key(Qt::Key_A, Qt::ControlModifier);
        Key(Qt::Key_Delete);
    }
    void ScrollTo(int n, int row) const { List(n).verticalScrollBar()->setValue(row); }
    // One of the edits a typist makes, chosen by `random`: a key from `keys`
    // added at the end or the start or over the whole text, a Backspace at
    // the end, or a move of the cursor.
    void RandomEdit(QRandomGenerator& random, const QString& keys) {
        const QString key = keys[random.bounded(int(keys.size()))];
        switch (random.bounded(7)) {
        case 0:
        case 1:
            Key(Qt::Key_End);
            Type(key);
            break;
        case 2:
        case 3:
            Key(Qt::Key_End);
            Key(Qt::Key_Backspace);
            break;
        case 4:
            Key(Qt::Key_A, Qt::ControlModifier);
            Type(key);
            break;
        case 5:
            Key(Qt::Key_Home);
            Type(key);
            break;
        default:
            Key(Qt::Key_Left);
            break;
        }
    }
    // Turns the mouse wheel over list `n` by `notches`, down for more than 0.
    void Wheel(int n, int notches) const {
        QWidget* viewport = List(n).viewport();
        const QPoint at = viewport->rect().center();
        QWheelEvent event(at, viewport->mapToGlobal(at), {}, QPoint(0, -120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }

    // FoundItem and the selected row of each list, ListView1 first.
    QString State() const {
        QStringList rows;
        for (int n = 1; n <= 4; ++n) {
            const int row = List(n).SelectedRow();
            rows << (row < 0 ? QStringLiteral("-") : QString::number(row));
        }
        const std::optional<int> found = window.FoundItem();
        return QStringLiteral("found %1, rows %2")
            .arg(found ? QString::number(*found) : QStringLiteral("none"), rows.join(' '));
    }
    // The lists that show `row`, by number.
    QString Showing(int row) const {
        QStringList lists;
        for (int n = 1; n <= 4; ++n) {
            if (RowVisible(List(n), row))
                lists << QString::number(n);
        }
        return lists.join(' ');
    }
    // The top rows, as "T" when the four lists share it.
    QString Tops() const {
        const QList<int> tops = Scrolls();
        if (tops.count(tops[0]) == 4)
            return QString::number(tops[0]);
        return QStringLiteral("%1 %2 %3 %4").arg(tops[0]).arg(tops[1]).arg(tops[2]).arg(tops[3]);
    }
    // The scroll position of each list.
    QList<int> Scrolls() const {
        QList<int> values;
        for (int n = 1; n <= 4; ++n)
            values << List(n).verticalScrollBar()->value();
        return values;
    }

private:
    PriceDir dir_;

public:
    MainWindow window;
    // Closes any message box, so that an unexpected one fails a test instead of hanging it.
    MessageBoxCloser boxes;
    int expectedBoxes = 0;
    static inline int unexpectedBoxes = 0;
};

} // namespace

class SearchTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        const int boxes = std::exchange(Session::unexpectedBoxes, 0);
        QCOMPARE(boxes, 0);
    }
    void typingWalksThePartCodes();
    void emptyingTheBoxBringsEveryListToTheTop();
    void searchButtonBringsAllFourListsToTheFoundRow();
    void backspaceInTheEmptyBoxAtStartScrollsNothing();
    void keyInTheBoxShowsTheFoundRowAndAlignsToTheSelectedOne();
    void rowClickMovesTheOtherThree_data();
    void rowClickMovesTheOtherThree();
    void clickThatSlipsToAnotherRowMovesTheOtherThree();
    void dragPastAnEdgeScrollsAlongAndLeavesOneRow_data();
    void dragPastAnEdgeScrollsAlongAndLeavesOneRow();
    void rightClickPicksTheRowInAllFour();
    void keyboardMovesInAListMoveTheOtherThree_data();
    void keyboardMovesInAListMoveTheOtherThree();
    void typingInAListFindsNothing();
    void searchButtonScrollsAllFourToTheFoundRow();
    void keyInTheBoxSkipsAligningWhenThePartCodeListHasNoSelection();
    void emptyListsTakeEveryActionQuietly();
    void findsTheFirstMatchWhateverTheEdits_data();
    void findsTheFirstMatchWhateverTheEdits();
    void rowsStandOnTheSameScreenLines();
    void everyMoveLeavesTheListsOnOneTopRow_data();
    void everyMoveLeavesTheListsOnOneTopRow();
    void firstArrowKeyTakesTheFirstRow();
};

void SearchTest::typingWalksThePartCodes() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    QStringList log = {s.State()};
    const auto step = [&](const QString& what) { log << what + QStringLiteral(": ") + s.State(); };

    s.Type(QStringLiteral("b"));
    step("b");
    s.Type(QStringLiteral("2"));
    step("b2");
    s.Type(QStringLiteral("1"));
    step("b21");
    s.Type(QStringLiteral("5"));
    step("b215");
    s.Key(Qt::Key_Backspace);
    step("backspace");
    s.EmptyBox();
    step("emptied");
    s.Type(QStringLiteral(" "));
    step("space");
    s.Type(QStringLiteral("A"));
    step("space A");
    s.Key(Qt::Key_A, Qt::ControlModifier);
    s.Type(QStringLiteral("c"));
    step("c");
    s.Key(Qt::Key_Backspace);
    step("backspace to empty");
    s.Key(Qt::Key_Backspace);
    step("backspace in empty");

    QCOMPARE(log, QStringList({
                      "found none, rows - - - -",
                      "b: found 1, rows 1 1 1 1",
                      "b2: found 1, rows 1 1 1 1",
                      "b21: found 2, rows 2 2 2 2",
                      "b215: found none, rows 2 2 2 2",
                      "backspace: found 2, rows 2 2 2 2",
                      "emptied: found 0, rows 0 0 0 0",
                      "space: found none, rows 0 0 0 0",
                      "space A: found none, rows 0 0 0 0",
                      "c: found 3, rows 3 3 3 3",
                      "backspace to empty: found 0, rows 0 0 0 0",
                      "backspace in empty: found 0, rows 0 0 0 0",
                  }));
    QCOMPARE(s.boxes.Closed(), 0);
}

void SearchTest::emptyingTheBoxBringsEveryListToTheTop() {
    Session s(LongFile());
    QVERIFY(s.Open());
    s.Type(QStringLiteral("d0400"));
    QCOMPARE(s.State(), QStringLiteral("found 400, rows 400 400 400 400"));
    QCOMPARE(s.Showing(400), QStringLiteral("1 2 3 4"));
    QCOMPARE(s.Showing(0), QString());

    s.EmptyBox();
    QCOMPARE(s.State(), QStringLiteral("found 0, rows 0 0 0 0"));
    QCOMPARE(s.Scrolls(), QList<int>({0, 0, 0, 0}));
}

void SearchTest::searchButtonBringsAllFourListsToTheFoundRow() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    QList<QSignalSpy*> clicks;
    for (int n = 1; n <= 4; ++n)
        clicks << new QSignalSpy(&s.List(n), &PriceListView::ItemClick);
    QStringList log;
    const auto step = [&](const QString& what) { log << what + QStringLiteral(": ") + s.State(); };

    QTest::mouseClick(s.Search(), Qt::LeftButton);
    step("Search, empty box");
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Type(QStringLiteral("b21"));
    step("b21");
    ClickRow(s.List(3), 3);
    step("click row 3 of ListView3");
    QTest::mouseClick(s.Search(), Qt::LeftButton);
    step("Search");
    s.Key(Qt::Key_Left);
    step("Left in the box");
    QCOMPARE(s.boxes.Closed(), 0);

    s.Key(Qt::Key_End);
    s.Type(QStringLiteral("Z"));
    step("b21Z");
    ClickRow(s.List(4), 1);
    step("click row 1 of ListView4");
    QTest::mouseClick(s.Search(), Qt::LeftButton);
    step("Search, no match");

    QCOMPARE(log, QStringList({
                      "Search, empty box: found none, rows 0 0 0 0",
                      "b21: found 2, rows 2 2 2 2",
                      "click row 3 of ListView3: found 2, rows 3 3 3 3",
                      "Search: found 2, rows 2 2 2 2",
                      "Left in the box: found 2, rows 2 2 2 2",
                      "b21Z: found none, rows 2 2 2 2",
                      "click row 1 of ListView4: found none, rows 1 1 1 1",
                      "Search, no match: found none, rows 1 1 1 1",
                  }));
    QCOMPARE(s.boxes.Closed(), 1);
    s.expectedBoxes = 1;
    QCOMPARE(s.boxes.Text(), QStringLiteral("Item not Found!"));
    QCOMPARE(s.boxes.Title(), QStringLiteral("Search"));
    QCOMPARE(s.boxes.Icon(), QMessageBox::Information);
    QCOMPARE(s.boxes.Buttons(), QMessageBox::Ok);
    // Only the two real clicks reached the lists as clicks.
    QList<int> counts;
    for (QSignalSpy* spy : clicks)
        counts << spy->count();
    QCOMPARE(counts, QList<int>({0, 0, 1, 1}));
    qDeleteAll(clicks);
}

void SearchTest::backspaceInTheEmptyBoxAtStartScrollsNothing() {
    Session s(LongFile());
    QVERIFY(s.Open());
    s.ScrollTo(1, 450);
    s.ScrollTo(2, 200);
    const QList<int> before = s.Scrolls();
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Key(Qt::Key_Backspace);
    QCOMPARE(s.State(), QStringLiteral("found none, rows 0 - - -"));
    QCOMPARE(s.Scrolls(), before);
}

void SearchTest::keyInTheBoxShowsTheFoundRowAndAlignsToTheSelectedOne() {
    Session s(LongFile());
    QVERIFY(s.Open());
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Type(QStringLiteral("b21"));
    ClickRow(s.List(2), 0);
    QCOMPARE(s.State(), QStringLiteral("found 2, rows 0 0 0 0"));

    // The user scrolls every list away, then presses an arrow key in the box.
    for (int n = 1; n <= 4; ++n)
        s.ScrollTo(n, 300);
    QCOMPARE(s.Showing(2), QString());
    s.Key(Qt::Key_Down);
    QCOMPARE(s.State(), QStringLiteral("found 2, rows 0 0 0 0"));
    // ListView1 scrolls up just far enough to show row 2; the others to row 0.
    QCOMPARE(s.Scrolls(), QList<int>({2, 0, 0, 0}));
    QCOMPARE(s.Showing(0), QStringLiteral("2 3 4"));

    // Same after a row far below: ListView1 shows row 2 and keeps row 350.
    s.ScrollTo(4, 345);
    ClickRow(s.List(4), 350);
    s.Key(Qt::Key_Up);
    QCOMPARE(s.State(), QStringLiteral("found 2, rows 350 350 350 350"));
    QCOMPARE(s.Showing(2), QStringLiteral("1"));
    QCOMPARE(s.Showing(350), QStringLiteral("2 3 4"));
}

void SearchTest::rowClickMovesTheOtherThree_data() {
    OneRowPerList("clicked");
}

void SearchTest::rowClickMovesTheOtherThree() {
    QFETCH(int, clicked);
    Session s(LongFile());
    QVERIFY(s.Open());
    s.Type(QStringLiteral("b"));
    QCOMPARE(s.State(), QStringLiteral("found 1, rows 1 1 1 1"));
    QList<QSignalSpy*> clicks;
    for (int n = 1; n <= 4; ++n)
        clicks << new QSignalSpy(&s.List(n), &PriceListView::ItemClick);

    s.ScrollTo(clicked, 200);
    ClickRow(s.List(clicked), 205);
    QCOMPARE(s.State(), QStringLiteral("found 1, rows 205 205 205 205"));
    QCOMPARE(s.Showing(205), QStringLiteral("1 2 3 4"));
    QList<int> counts;
    for (int n = 0; n < 4; ++n)
        counts << clicks[n]->count();
    QList<int> expected(4, 0);
    expected[clicked - 1] = 1;
    QCOMPARE(counts, expected);
    qDeleteAll(clicks);
}

void SearchTest::clickThatSlipsToAnotherRowMovesTheOtherThree() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    PriceListView& list = s.List(2);
    QSignalSpy clicks(&list, &PriceListView::ItemClick);
    const auto centre = [&](int row) {
        return list.visualRect(list.model()->index(row, 0)).center();
    };
    // The mouse goes down on row 1 and comes up on row 3: the list selects row 3.
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, centre(1));
    QTest::mouseMove(list.viewport(), centre(3));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, centre(3));
    QCOMPARE(s.State(), QStringLiteral("found none, rows 3 3 3 3"));
    QCOMPARE(clicks.count(), 1);
    // Dragged out below the rows: the last row it crossed stays selected.
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, centre(2));
    QTest::mouseMove(list.viewport(), centre(0));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {},
                        QPoint(5, list.viewport()->height() - 2));
    QCOMPARE(s.State(), QStringLiteral("found none, rows 0 0 0 0"));
    QCOMPARE(clicks.count(), 2);
}

void SearchTest::dragPastAnEdgeScrollsAlongAndLeavesOneRow_data() {
    QTest::addColumn<int>("list");
    QTest::addColumn<bool>("down");
    QTest::addRow("ListView1 down") << 1 << true;
    QTest::addRow("ListView2 up") << 2 << false;
    QTest::addRow("ListView4 down") << 4 << true;
}

void SearchTest::dragPastAnEdgeScrollsAlongAndLeavesOneRow() {
    QFETCH(int, list);
    QFETCH(bool, down);
    Session s(LongFile());
    QVERIFY(s.Open());
    PriceListView& dragged = s.List(list);
    QWidget* viewport = dragged.viewport();
    if (!down)
        s.ScrollTo(list, 300);
    const int start = dragged.TopRow() + 2;
    const QPoint press = dragged.visualRect(dragged.model()->index(start, 0)).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, press);
    QCOMPARE(dragged.SelectedRow(), start);
    // Held three rows past the edge, and a little to the side.
    const int past = 3 * dragged.RowHeight();
    const QPoint out(viewport->width() + 20, down ? viewport->height() + past : -past);
    QMouseEvent move(QEvent::MouseMove, out, viewport->mapToGlobal(out), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    // The list scrolls along, its edge row selected, and the others keep to
    // its top row and its selected row meanwhile.
    QTRY_VERIFY(down ? dragged.TopRow() > 20 : dragged.TopRow() < 280);
    const int edge = down ? dragged.TopRow() + dragged.PageRows() - 1 : dragged.TopRow();
    QCOMPARE(dragged.SelectedRow(), edge);
    QCOMPARE(s.Tops(), QString::number(dragged.TopRow()));
    QCOMPARE(s.State(), QStringLiteral("found none, rows %1 %1 %1 %1").arg(edge));

    QTest::mouseRelease(viewport, Qt::LeftButton, {}, out);
    const int row = dragged.SelectedRow();
    QCOMPARE(s.State(), QStringLiteral("found none, rows %1 %1 %1 %1").arg(row));
    QCOMPARE(s.Tops(), QString::number(dragged.TopRow()));
    QCOMPARE(s.Showing(row), QStringLiteral("1 2 3 4"));
    // Released, it scrolls no more.
    const QString tops = s.Tops();
    QTest::qWait(150);
    QCOMPARE(s.Tops(), tops);
}

void SearchTest::rightClickPicksTheRowInAllFour() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    ClickRow(s.List(2), 1);
    PriceListView& prices = s.List(3);
    const QPoint row3 = prices.visualRect(prices.model()->index(3, 0)).center();
    QTest::mouseClick(prices.viewport(), Qt::RightButton, {}, row3);
    QCOMPARE(s.State(), QStringLiteral("found none, rows 3 3 3 3"));
    // What Ctrl+C copies is the part the four lists show.
    QTest::keyClick(&prices, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0.01"));
}

void SearchTest::keyboardMovesInAListMoveTheOtherThree_data() {
    OneRowPerList("list");
}

void SearchTest::keyboardMovesInAListMoveTheOtherThree() {
    QFETCH(int, list);
    Session s(LongFile());
    QVERIFY(s.Open());
    PriceListView& moved = s.List(list);
    ClickRow(moved, 0);
    QStringList log;
    QStringList expected;
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_Down, "Down"},         {Qt::Key_Down, "Down"}, {Qt::Key_Up, "Up"},
        {Qt::Key_PageDown, "PageDown"}, {Qt::Key_End, "End"},   {Qt::Key_PageUp, "PageUp"},
        {Qt::Key_Home, "Home"},
    };
    for (const auto& [key, name] : keys) {
        QTest::keyClick(&moved, key);
        const int row = moved.SelectedRow();
        log << QStringLiteral("%1: %2, shown in %3").arg(name, s.State(), s.Showing(row));
        expected << QStringLiteral("%1: found none, rows %2 %2 %2 %2, shown in 1 2 3 4")
                        .arg(name)
                        .arg(row);
    }
    QCOMPARE(log, expected);
    // The list itself went where the keys say.
    QList<int> rows;
    for (const auto& [key, name] : keys) {
        Q_UNUSED(name);
        QTest::keyClick(&moved, key);
        rows << moved.SelectedRow();
    }
    QCOMPARE(rows.mid(0, 3), QList<int>({1, 2, 1}));
    QVERIFY(rows[3] > 1);
    QCOMPARE(rows[4], 499);
    QVERIFY(rows[5] < 499);
    QCOMPARE(rows[6], 0);
}

void SearchTest::typingInAListFindsNothing() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    for (int n = 1; n <= 4; ++n) {
        ClickRow(s.List(n), 0);
        QTest::keyClicks(&s.List(n), QStringLiteral("C3b"));
        QCOMPARE(s.State(), QStringLiteral("found none, rows 0 0 0 0"));
        QCOMPARE(s.List(n).currentIndex().row(), 0);
    }
}

void SearchTest::searchButtonScrollsAllFourToTheFoundRow() {
    Session s(LongFile());
    QVERIFY(s.Open());
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Type(QStringLiteral("D0450"));
    s.ScrollTo(2, 0); // the user scrolls up and picks row 0
    ClickRow(s.List(2), 0);
    for (int n = 1; n <= 4; ++n)
        s.ScrollTo(n, 100);
    QTest::mouseClick(s.Search(), Qt::LeftButton);
    QCOMPARE(s.State(), QStringLiteral("found 450, rows 450 450 450 450"));
    QCOMPARE(s.Showing(450), QStringLiteral("1 2 3 4"));
    const QList<int> tops = s.Scrolls();
    QCOMPARE(tops, QList<int>(4, tops[0]));
}

void SearchTest::keyInTheBoxSkipsAligningWhenThePartCodeListHasNoSelection() {
    Session s(kFourParts);
    QVERIFY(s.Open());
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Type(QStringLiteral("b"));
    ClickRow(s.List(2), 3);
    // A control-click picks its row as a plain click does: the user cannot
    // take the selection off a list.
    const QModelIndex row3 = s.List(1).model()->index(3, 0);
    QTest::mouseClick(s.List(1).viewport(), Qt::LeftButton, Qt::ControlModifier,
                      s.List(1).visualRect(row3).center());
    QCOMPARE(s.State(), QStringLiteral("found 1, rows 3 3 3 3"));
    s.List(1).selectionModel()->clearSelection();
    QCOMPARE(s.State(), QStringLiteral("found 1, rows - 3 3 3"));
    s.Key(Qt::Key_Left);
    QCOMPARE(s.State(), QStringLiteral("found 1, rows - 3 3 3"));
}

void SearchTest::emptyListsTakeEveryActionQuietly() {
    Session s(QByteArray{});
    QVERIFY(s.Open());
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Key(Qt::Key_Backspace);
    s.Type(QStringLiteral("a"));
    s.Key(Qt::Key_Backspace);
    s.Key(Qt::Key_Backspace);
    s.Key(Qt::Key_Down);
    QCOMPARE(s.State(), QStringLiteral("found none, rows - - - -"));
    for (int n = 1; n <= 4; ++n) {
        QTest::mouseClick(s.List(n).viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown, Qt::Key_Home})
            QTest::keyClick(&s.List(n), key);
    }
    QCOMPARE(s.State(), QStringLiteral("found none, rows - - - -"));
    QCOMPARE(s.boxes.Closed(), 0);
    // With no row at all, the Search button has nothing to find.
    QTest::mouseClick(s.Search(), Qt::LeftButton);
    QCOMPARE(s.boxes.Closed(), 1);
    s.expectedBoxes = 1;
    QCOMPARE(s.boxes.Text(), QStringLiteral("Item not Found!"));
}

void SearchTest::findsTheFirstMatchWhateverTheEdits_data() {
    QTest::addColumn<bool>("utf8");
    QTest::newRow("UTF-8 file") << true;
    QTest::newRow("Windows-1252 file") << false;
}

void SearchTest::findsTheFirstMatchWhateverTheEdits() {
    QFETCH(bool, utf8);
    // Codes sharing their beginnings, in both cases, in no particular order.
    const QString letters = QStringLiteral("aAbB1\u00e9\u00c9");
    QRandomGenerator random(20001209);
    QStringList codes;
    QByteArray file;
    for (int row = 0; row < 120; ++row) {
        QString code;
        for (int i = random.bounded(1, 5); i > 0; --i)
            code += letters[random.bounded(int(letters.size()))];
        codes << code;
        file += (utf8 ? code.toUtf8() : code.toLatin1()) + ",x,1,2\r\n";
    }
    Session s(file);
    QVERIFY(s.Open());
    QCOMPARE(ListTexts(s.window, 1), codes);
    const auto expected = [&](const QString& text) {
        for (qsizetype row = 0; row < codes.size(); ++row) {
            if (codes[row].startsWith(text, Qt::CaseInsensitive))
                return QStringLiteral("found %1, rows %1 %1 %1 %1").arg(row);
        }
        return QString();
    };

    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    const QString typed = letters + QStringLiteral("x");
    QString before = s.State();
    for (int step = 0; step < 400; ++step) {
        const QString was = s.Text1()->text();
        s.RandomEdit(random, typed);
        const QString text = s.Text1()->text();
        const QString state = s.State();
        if (text != was) {
            // Without a match FoundItem goes and the lists stay where they were.
            QString want = expected(text);
            if (want.isEmpty())
                want = QStringLiteral("found none, rows") +
                       before.section(QStringLiteral(", rows"), 1);
            QCOMPARE(text + QStringLiteral(": ") + state, text + QStringLiteral(": ") + want);
        }
        before = state;
    }
}

void SearchTest::rowsStandOnTheSameScreenLines() {
    Session s(LongFile());
    QVERIFY(s.Open());
    const PriceListView& first = s.List(1);
    const auto rows = [&](const PriceListView& list) {
        const int top = list.viewport()->mapTo(&s.window, QPoint()).y();
        return std::pair(top, top + list.viewport()->height());
    };
    QCOMPARE(first.viewport()->height() % first.RowHeight(), 0);
    QVERIFY(first.PageRows() > 10);
    for (int n = 2; n <= 4; ++n) {
        const PriceListView& list = s.List(n);
        QCOMPARE(rows(list), rows(first));
        QCOMPARE(list.RowHeight(), first.RowHeight());
        QCOMPARE(list.PageRows(), first.PageRows());
    }
}

void SearchTest::everyMoveLeavesTheListsOnOneTopRow_data() {
    OneRowPerList("list");
}

// Whatever moves one list, the four show the same rows: the handlers that put
// them on one row, and the user's own scrolling of any one of them.
void SearchTest::everyMoveLeavesTheListsOnOneTopRow() {
    QFETCH(int, list);
    Session s(LongFile());
    QVERIFY(s.Open());
    PriceListView& moved = s.List(list);
    QScrollBar* bar = moved.verticalScrollBar();
    const int page = moved.PageRows();
    QStringList log;
    QStringList expected;
    const auto step = [&](const QString& what, const QString& tops) {
        log << what + QStringLiteral(": ") + s.Tops();
        expected << what + QStringLiteral(": ") + tops;
    };
    QTest::mouseClick(s.Text1(), Qt::LeftButton);
    s.Type(QStringLiteral("D0450"));
    s.ScrollTo(list, 0);
    QTest::mouseClick(s.Search(), Qt::LeftButton);
    step("Search button", QString::number(450 - page + 1));
    s.Type(QStringLiteral("5")); // D04505 finds nothing: the alignment step
    step("alignment", QString::number(450 - page + 1));
    s.Key(Qt::Key_Backspace);
    s.Key(Qt::Key_Backspace);
    s.Type(QStringLiteral("7"));
    step("typing D0457", QString::number(457 - page + 1));
    s.EmptyBox();
    step("emptying the box", QStringLiteral("0"));

    s.Wheel(list, 3);
    step("wheel down", QStringLiteral("9"));
    s.Wheel(list, -1);
    step("wheel up", QStringLiteral("6"));
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    step("scroll bar arrow", QStringLiteral("7"));
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    step("scroll bar trough", QString::number(7 + page));
    bar->setSliderDown(true);
    bar->setSliderPosition(200);
    step("dragging the handle", QStringLiteral("200"));
    bar->setSliderDown(false);

    ClickRow(moved, 200 + page - 1);
    step("click on the bottom row", QStringLiteral("200"));
    QTest::keyClick(&moved, Qt::Key_Down);
    step("Down past the bottom row", QStringLiteral("201"));
    QTest::keyClick(&moved, Qt::Key_PageDown);
    step("Page Down", QString::number(201 + page));
    QTest::keyClick(&moved, Qt::Key_PageUp);
    step("Page Up", QString::number(200 + page));
    QTest::keyClick(&moved, Qt::Key_End);
    step("End", QString::number(500 - page));
    QTest::keyClick(&moved, Qt::Key_Home);
    step("Home", QStringLiteral("0"));
    QCOMPARE(log, expected);
    QCOMPARE(s.State(), QStringLiteral("found 0, rows 0 0 0 0"));
}

void SearchTest::firstArrowKeyTakesTheFirstRow() {
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Up}) {
        Session s(LongFile());
        QVERIFY(s.Open());
        QCOMPARE(QApplication::focusWidget(), &s.List(1));
        QTest::keyClick(&s.List(1), key);
        QCOMPARE(s.State(), QStringLiteral("found none, rows 0 0 0 0"));
        QTest::keyClick(&s.List(1), Qt::Key_Down);
        QCOMPARE(s.State(), QStringLiteral("found none, rows 1 1 1 1"));
    }
    // In a list that the focus reached by Tab, as in the first one.
    Session s(LongFile());
    QVERIFY(s.Open());
    QTest::keyClick(&s.List(1), Qt::Key_Tab);
    QTest::keyClick(&s.List(2), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), &s.List(3));
    QTest::keyClick(&s.List(3), Qt::Key_Down);
    QCOMPARE(s.State(), QStringLiteral("found none, rows 0 0 0 0"));
}

QTEST_MAIN(SearchTest)
#include "search_test.moc"
