// The window as a screen reader finds it through QAccessible: what the lists,
// the search row and the progress bar are called, what the lists hold, which
// row is selected, and what is announced when the selection moves.

#include "price_list_accessible.h"
#include "ui_test_support.h"
#include "wait_window.h"

#include <QAccessible>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using namespace pricelookup;
using namespace pricelookup::testing;

namespace {

struct Event {
    QAccessible::Event type;
    QObject* object;
    int child;
    QString name; // of the row or control the event is about
};
QList<Event> events;

void Record(QAccessibleEvent* event) {
    QAccessibleInterface* iface = event->accessibleInterface();
    events.append({event->type(), event->object(), event->child(),
                   iface ? iface->text(QAccessible::Name) : QString()});
}

// The selection and focus events, as "type list child name".
QStringList RowEvents() {
    QStringList out;
    for (const Event& e : events) {
        const char* type = e.type == QAccessible::SelectionAdd      ? "add"
                           : e.type == QAccessible::SelectionRemove ? "remove"
                           : e.type == QAccessible::Focus           ? "focus"
                                                                    : nullptr;
        if (!type || !qobject_cast<PriceListView*>(e.object) || e.child < 0)
            continue;
        out << QStringLiteral("%1 %2 %3 %4")
                   .arg(QLatin1String(type), e.object->objectName().right(1))
                   .arg(e.child)
                   .arg(e.name);
    }
    return out;
}

QAccessibleInterface* Of(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

// Shows the loaded window with the focus in its search box, ready to type;
// null when it did not load or show.
QLineEdit* TypingInto(MainWindow& window) {
    if (!OpenWindow(window))
        return nullptr;
    auto* box = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    box->setFocus();
    return box;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // What an assistive technology listening on the bus switches on.
        QPlatformAccessibility* platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        QAccessible::installUpdateHandler(&Record);
        QVERIFY(QAccessible::isActive());
    }
    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }

    void controlsAreNamed() {
        PriceDir dir(kFourParts);
        MainWindow window;
        QVERIFY(window.Loaded());
        const char* names[] = {"National Part Code", "Description", "Cost Price", "Retail Price"};
        for (int n = 1; n <= 4; ++n) {
            QAccessibleInterface* list = Of(List(window, n));
            QCOMPARE(list->role(), QAccessible::Table);
            QCOMPARE(list->text(QAccessible::Name), QLatin1String(names[n - 1]));
            QVERIFY(list->tableInterface());
            QCOMPARE(list->tableInterface()->columnCount(), 1);
            QCOMPARE(list->tableInterface()->columnDescription(0), QStringLiteral("Part No"));
            // The column header comes first, then the rows; no scroll bars.
            QAccessibleInterface* header = list->child(0);
            QCOMPARE(header->role(), QAccessible::ColumnHeader);
            QCOMPARE(header->text(QAccessible::Name), QStringLiteral("Part No"));
            QCOMPARE(list->childCount(), 1 + List(window, n)->RowCount());
            QCOMPARE(list->child(1)->role(), QAccessible::Cell);
            QCOMPARE(list->child(1)->tableCellInterface()->columnHeaderCells(),
                     QList<QAccessibleInterface*>{header});
        }
        QAccessibleInterface* box = Of(window.findChild<QLineEdit*>(QStringLiteral("Text1")));
        QCOMPARE(box->role(), QAccessible::EditableText);
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Search For:"));
        QCOMPARE(
            Of(window.findChild<QPushButton*>(QStringLiteral("Command2")))->text(QAccessible::Name),
            QStringLiteral("Search"));
        QCOMPARE(
            Of(window.findChild<QPushButton*>(QStringLiteral("Command1")))->text(QAccessible::Name),
            QStringLiteral("Exit"));

        // The progress window's bar, hidden since the load but still there.
        auto* bar = FindWaitWindow()->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        QAccessibleInterface* barFace = Of(bar);
        QCOMPARE(barFace->text(QAccessible::Name), QStringLiteral("Processing, Please wait"));
        QVERIFY(barFace->valueInterface());
        QCOMPARE(barFace->valueInterface()->currentValue().toInt(), bar->value());
        QCOMPARE(barFace->valueInterface()->maximumValue().toInt(), bar->maximum());
    }

    void rowsReadAsShown() {
        PriceDir dir(kFourParts);
        MainWindow window;
        QVERIFY(window.Loaded());
        const QStringList first = {"A100", "Bolt", "1.25", "2.50"};
        const QStringList last = {"C300", "Washer", "0.01", "0.02"};
        for (int n = 1; n <= 4; ++n) {
            QAccessibleInterface* list = Of(List(window, n));
            QAccessibleTableInterface* table = list->tableInterface();
            QCOMPARE(table->rowCount(), 4);
            QCOMPARE(list->child(1)->text(QAccessible::Name), first[n - 1]);
            QAccessibleInterface* lastRow = table->cellAt(4 - 1, 0);
            QCOMPARE(lastRow->text(QAccessible::Name), last[n - 1]);
            QCOMPARE(lastRow->tableCellInterface()->rowIndex(), 4 - 1);
            QCOMPARE(lastRow->parent(), list);
            QCOMPARE(list->indexOfChild(lastRow), 4);
            // Past the end there is nothing, and asking twice gives the same row.
            QVERIFY(!table->cellAt(4, 0));
            QVERIFY(!list->child(4 + 1));
            QCOMPARE(list->child(1), list->child(1));
        }
    }

    void selectedRowFollowsSearchAndClicks() {
        PriceDir dir(kFourParts);
        MainWindow window;
        QLineEdit* box = TypingInto(window);
        QVERIFY(box);
        QTest::keyClicks(box, QStringLiteral("b21"));
        for (int n = 1; n <= 4; ++n) {
            QAccessibleTableInterface* table = Of(List(window, n))->tableInterface();
            QCOMPARE(table->selectedRows(), QList<int>{2});
            QCOMPARE(table->selectedCellCount(), 1);
            QCOMPARE(table->selectedCells().first()->text(QAccessible::Name),
                     ListTexts(window, n)[2]);
            QVERIFY(table->isRowSelected(2));
            QVERIFY(Of(List(window, n))->child(3)->state().selected);
            QVERIFY(!Of(List(window, n))->child(1)->state().selected);
        }

        // Where a row or the header is on the screen, that is what is found there.
        QAccessibleInterface* codes = Of(List(window, 1));
        const QPoint onRow = codes->child(3)->rect().center();
        QCOMPARE(codes->childAt(onRow.x(), onRow.y()), codes->child(3));
        const QPoint onHeader = codes->child(0)->rect().center();
        QCOMPARE(codes->childAt(onHeader.x(), onHeader.y()), codes->child(0));
        QVERIFY(!codes->child(3)->state().offscreen);

        ClickRow(*List(window, 2), 0);
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(Of(List(window, n))->tableInterface()->selectedRows(), QList<int>{0});
        // The clicked list has the focus, on the clicked row.
        QAccessibleInterface* clicked = Of(List(window, 2));
        QVERIFY(clicked->state().focused);
        QCOMPARE(clicked->focusChild(), clicked->child(1));
        QVERIFY(clicked->child(1)->state().focused);
        QVERIFY(!Of(List(window, 1))->child(1)->state().focused);

        // Picking a row from the screen reader moves all four lists, as a click does.
        QVERIFY(Of(List(window, 4))->tableInterface()->selectRow(1));
        QCOMPARE(SelectedRows(window), (QList<int>{1, 1, 1, 1}));
    }

    void selectionChangesAreAnnounced() {
        PriceDir dir(kFourParts);
        MainWindow window;
        QLineEdit* box = TypingInto(window);
        QVERIFY(box);

        // Typing: the found part takes the screen reader's focus; the other
        // lists only report their new selected row.
        events.clear();
        QTest::keyClick(box, Qt::Key_B);
        QCOMPARE(RowEvents(), (QStringList{"add 1 2 B200", "focus 1 2 B200", "add 2 2 Nut",
                                           "add 3 2 0.05", "add 4 2 0.10"}));

        events.clear();
        QTest::keyClicks(box, QStringLiteral("21"));
        QCOMPARE(RowEvents(),
                 (QStringList{"focus 1 2 B200", "add 1 3 b210", "remove 1 2 B200", "focus 1 3 b210",
                              "add 2 3 Nut small", "remove 2 2 Nut", "add 3 3 0.04",
                              "remove 3 2 0.05", "add 4 3 0.08", "remove 4 2 0.10"}));

        // The Search button: the found part takes the focus, as when typing.
        box->setText(QStringLiteral("a"));
        ClickRow(*List(window, 2), 3);
        events.clear();
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        QCOMPARE(RowEvents(), (QStringList{"add 1 1 A100", "remove 1 4 C300", "focus 1 1 A100",
                                           "add 2 1 Bolt", "remove 2 4 Washer", "add 3 1 1.25",
                                           "remove 3 4 0.01", "add 4 1 2.50", "remove 4 4 0.02"}));

        // A click in a list: its own row takes the focus, the others follow.
        events.clear();
        ClickRow(*List(window, 3), 1);
        QCOMPARE(RowEvents(), (QStringList{"add 3 2 0.05", "remove 3 1 1.25", "focus 3 2 0.05",
                                           "add 1 2 B200", "remove 1 1 A100", "add 2 2 Nut",
                                           "remove 2 1 Bolt", "add 4 2 0.10", "remove 4 1 2.50"}));

        // A key in the list moves the focus along.
        events.clear();
        QTest::keyClick(List(window, 3), Qt::Key_Down);
        QCOMPARE(RowEvents().mid(0, 3),
                 (QStringList{"add 3 3 0.04", "remove 3 2 0.05", "focus 3 3 0.04"}));
    }

    // Where the user is, each time the focus or a first key lands in a list.
    void enteringAListTellsItsRow() {
        PriceDir dir(kFourParts);
        MainWindow window;
        QVERIFY(OpenWindow(window));
        QCoreApplication::processEvents();

        // The focus made row 1 current without selecting it: the first Down
        // selects it, and it is spoken though it was current already.
        events.clear();
        QTest::keyClick(List(window, 1), Qt::Key_Down);
        QCOMPARE(RowEvents().mid(0, 2), (QStringList{"add 1 1 A100", "focus 1 1 A100"}));

        // Tab: the reader hears of the list first, then of its current row.
        const auto focusEvents = [] {
            QStringList out;
            for (const Event& e : events) {
                if (e.type == QAccessible::Focus && e.object)
                    out << e.object->objectName() + QLatin1Char(' ') + QString::number(e.child);
            }
            return out;
        };
        events.clear();
        QTest::keyClick(List(window, 1), Qt::Key_Tab);
        QTRY_COMPARE(focusEvents(), (QStringList{"ListView2 -1", "ListView2 1"}));
        // Into a list that no key has touched, its row 1.
        ClickRow(*List(window, 4), 2);
        List(window, 3)->selectionModel()->clear();
        events.clear();
        QTest::keyClick(List(window, 4), Qt::Key_Tab, Qt::ShiftModifier);
        QTRY_COMPARE(focusEvents(), (QStringList{"ListView3 -1", "ListView3 1"}));
        // A click speaks the row it picks, once.
        events.clear();
        ClickRow(*List(window, 2), 3);
        QCoreApplication::processEvents();
        QCOMPARE(focusEvents(), (QStringList{"ListView2 -1", "ListView2 4"}));
    }

    void rowObjectsAreMadeOnDemandAndLetGo() {
        QByteArray file;
        const int rows = static_cast<int>(PriceListAccessible::kKeptRows) + 100;
        for (int row = 0; row < rows; ++row)
            file += QStringLiteral("P%1,Part,1,2\r\n").arg(row, 5, 10, QLatin1Char('0')).toLatin1();
        PriceDir dir(file);
        MainWindow window;
        QVERIFY(window.Loaded());
        QAccessibleInterface* list = Of(List(window, 1));
        const QAccessible::Id firstId = QAccessible::uniqueId(list->child(1));
        for (int row = 1; row < rows; ++row)
            QVERIFY(list->child(1 + row));
        // The first row asked for has been let go; asking again makes it anew.
        QVERIFY(!QAccessible::accessibleInterface(firstId));
        QAccessibleInterface* again = list->child(1);
        QCOMPARE(again->text(QAccessible::Name), QStringLiteral("P00000"));
        QCOMPARE(list->indexOfChild(again), 1);
        // The rows asked for last are still the same objects.
        QCOMPARE(list->child(rows), list->child(rows));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
