// Price files that no one would write on purpose, each loaded through the real
// start-up and judged by what the four lists show.

#include "ui_test_support.h"

#include <QtTest>

#include <string_view>

using namespace pricelookup;
using namespace pricelookup::testing;
using namespace std::string_view_literals;

namespace {

// Bytes as written, NULs included.
QByteArray Bytes(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Characters as written, NULs and control characters included.
QString Text(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

QString Row(const QString& code, const QString& description, const QString& cost,
            const QString& retail) {
    return QStringList{code, description, cost, retail}.join(QStringLiteral(" | "));
}

// The row of a line with nothing in it.
QString EmptyRow() {
    return Row({}, {}, QStringLiteral("0.00"), QStringLiteral("0.00"));
}

QStringList Repeated(const QString& row, int times) {
    QStringList rows;
    for (int i = 0; i < times; ++i)
        rows << row;
    return rows;
}

// Loads the bytes as sorted.dat through the real start-up and compares the
// rows on screen.
void CheckShown(const QByteArray& bytes, const QStringList& expected) {
    PriceDir dir(bytes);
    MainWindow w;
    QVERIFY(w.Loaded());
    QCOMPARE(ScreenRows(w), expected);
}

void AddPriceColumns() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("shown");
}

void AddPrice(const char* tag, const QByteArray& field, const QString& shown) {
    QTest::newRow(tag) << field << shown;
}

// The price field goes between a code and description and a retail price of
// 100, which must stay in its place whatever the field holds.
void CheckPrice() {
    QFETCH(QByteArray, field);
    QFETCH(QString, shown);
    CheckShown("P,d," + field + ",100\r\n",
               {Row(QStringLiteral("P"), QStringLiteral("d"), shown, QStringLiteral("1.00"))});
}

} // namespace

class HostileFilesTest : public QObject {
    Q_OBJECT

private slots:
    void nulBytes_data();
    void nulBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        CheckShown(bytes, rows);
    }

    void encodings_data();
    void encodings() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        CheckShown(bytes, rows);
    }

    void lineEndsAndSeparatorsOnly_data();
    void lineEndsAndSeparatorsOnly() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        CheckShown(bytes, rows);
    }

    void fiftyMegabyteLine();

    void pricesAsTheFileHoldsThem_data();
    void pricesAsTheFileHoldsThem() { CheckPrice(); }
};

void HostileFilesTest::nulBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("inside code, description and prices")
        << Bytes("A\0B,de\0sc,1\0"
                 "2,\0"
                 "5\r\n\0,\0,\0,\0"sv)
        << QStringList{Row(Text(u"A\0B"sv), Text(u"de\0sc"sv), "0.01", "0.00"),
                       Row(Text(u"\0"sv), Text(u"\0"sv), "0.00", "0.00")};
    QTest::newRow("in a Windows-1252 file")
        << Bytes("\xE9\0,\0\xE9,7,8"sv)
        << QStringList{Row(Text(u"\u00E9\0"sv), Text(u"\0\u00E9"sv), "0.07", "0.08")};
    QTest::newRow("a file of NULs")
        << QByteArray(1000, '\0') << QStringList{Row(QString(1000, QChar(0)), {}, "0.00", "0.00")};
}

void HostileFilesTest::encodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");

    const QStringList utf8Rows{Row("A1", Text(u"Caf\u00E9"sv), "1.00", "2.00"),
                               Row(Text(u"\u00E9"sv), Text(u"\u20AC 5"sv), "0.01", "0.02")};
    const QByteArray utf8 = "A1,Caf\xC3\xA9,100,200\r\n\xC3\xA9,\xE2\x82\xAC 5,1,2";
    QTest::newRow("UTF-8 without byte-order mark") << utf8 << utf8Rows;
    QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + utf8 << utf8Rows;
    QTest::newRow("byte-order mark before a quoted code")
        << QByteArray("\xEF\xBB\xBF\"A,1\",Caf\xC3\xA9,1,2")
        << QStringList{Row("A,1", Text(u"Caf\u00E9"sv), "0.01", "0.02")};
    QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QStringList{EmptyRow()};
    QTest::newRow("byte-order mark past the file's start is text")
        << QByteArray("A1,\xEF\xBB\xBFx,1,2\r\n\xEF\xBB\xBF"
                      "B2,y,3,4")
        << QStringList{Row("A1", Text(u"\uFEFFx"sv), "0.01", "0.02"),
                       Row(Text(u"\uFEFFB2"sv), "y", "0.03", "0.04")};

    QTest::newRow("Windows-1252 letters and signs")
        << QByteArray("\xE9t\xE9,\x80 \x81\x8D\x8F\x90\x9D \x9F\xA0\xFF,100,200")
        << QStringList{Row(Text(u"\u00E9t\u00E9"sv),
                           Text(u"\u20AC \u0081\u008D\u008F\u0090\u009D \u0178\u00A0\u00FF"sv),
                           "1.00", "2.00")};
    QTest::newRow("one stray byte makes the whole file Windows-1252")
        << QByteArray("A1,Caf\xC3\xA9,1,2\r\nA2,\xE9,3,4")
        << QStringList{Row("A1", Text(u"Caf\u00C3\u00A9"sv), "0.01", "0.02"),
                       Row("A2", Text(u"\u00E9"sv), "0.03", "0.04")};
    QTest::newRow("UTF-8 cut short at the end of the file")
        << QByteArray("A1,Caf\xC3\xA9,1,2\r\nA2,x\xC3")
        << QStringList{Row("A1", Text(u"Caf\u00C3\u00A9"sv), "0.01", "0.02"),
                       Row("A2", Text(u"x\u00C3"sv), "0.00", "0.00")};
    QTest::newRow("overlong form and surrogate are not UTF-8")
        << QByteArray("A1,\xC0\x80|\xED\xA0\x80,1,2")
        << QStringList{Row("A1", Text(u"\u00C0\u20AC|\u00ED\u00A0\u20AC"sv), "0.01", "0.02")};
    QTest::newRow("byte-order mark in a Windows-1252 file")
        << QByteArray("\xEF\xBB\xBF"
                      "A1,\xE9,1,2")
        << QStringList{Row("A1", Text(u"\u00E9"sv), "0.01", "0.02")};
}

void HostileFilesTest::lineEndsAndSeparatorsOnly_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("only commas") << QByteArray(100000, ',') << QStringList{EmptyRow()};
    QTest::newRow("only commas, on three lines")
        << QByteArray(",\r,,\r\n,,,,,") << Repeated(EmptyRow(), 3);

    // A line of n quotes opens a field with its first quote; after it each pair
    // is one quote, and a lone quote at the end closes the field. Without a
    // closing quote the field loses its first and last quote.
    const int kept[] = {0, 0, 1, 1, 3, 2, 5, 3};
    QByteArrayList quoteLines;
    QStringList quoteRows;
    for (int n = 1; n <= 8; ++n) {
        quoteLines << QByteArray(n, '"');
        quoteRows << Row(QString(kept[n - 1], u'"'), {}, "0.00", "0.00");
    }
    QTest::newRow("only double quotes, lines of 1 to 8") << quoteLines.join('\r') << quoteRows;
    QTest::newRow("only double quotes, a million")
        << QByteArray(1'000'000, '"')
        << QStringList{Row(QString(499'999, u'"'), "", "0.00", "0.00")};

    QTest::newRow("only CRs") << QByteArray(5, '\r') << Repeated(EmptyRow(), 5);
    QTest::newRow("only LFs") << QByteArray(5, '\n')
                              << QStringList{Row(QString(5, u'\n'), {}, "0.00", "0.00")};
    QTest::newRow("only CR LF") << QByteArray("\r\n\r\n\r\n") << Repeated(EmptyRow(), 3);
    // The LF after a CR belongs to the line's ending.
    QTest::newRow("LF CR LF CR LF CR")
        << QByteArray("\n\r\n\r\n\r")
        << QStringList{Row("\n", {}, "0.00", "0.00"), EmptyRow(), EmptyRow()};
    QTest::newRow("CR CR LF LF") << QByteArray("\r\r\n\n")
                                 << QStringList{EmptyRow(), EmptyRow(),
                                                Row("\n", {}, "0.00", "0.00")};
}

void HostileFilesTest::fiftyMegabyteLine() {
    // One line of 50 MB and five million commas, then an ordinary line.
    const QByteArray head = "A1,Long line,1234,5678";
    const QByteArray filler = ",123456789";
    const int fillers = 5'000'000 - 3;
    QByteArray bytes;
    bytes.reserve(head.size() + fillers * filler.size() + 32);
    bytes += head;
    for (int i = 0; i < fillers; ++i)
        bytes += filler;
    const qsizetype longLine = bytes.size();
    QCOMPARE(bytes.count(','), qsizetype(5'000'000));
    bytes += "\r\nB2,after,1,2";

    PriceDir dir(bytes);
    MainWindow w;
    QVERIFY(w.Loaded());
    QCOMPARE(ScreenRows(w), (QStringList{Row("A1", "Long line", "12.34", "56.78"),
                                         Row("B2", "after", "0.01", "0.02")}));
    // The bar took both lines' lengths, short of its end only by the CR LF.
    QCOMPARE(w.Progress().Max(), static_cast<std::uint64_t>(bytes.size()) + 10);
    QCOMPARE(w.Progress().Value(), static_cast<std::uint64_t>(longLine + 10 + 12));
}

// How a price field reads as a number is amount_test's; here, what only the
// whole start-up shows: a line feed inside a field does not end the line, and
// quotes are gone before the number is read.
void HostileFilesTest::pricesAsTheFileHoldsThem_data() {
    AddPriceColumns();
    AddPrice("tab and LF between digits", QByteArray("1\t2\n3"), "1.23");
    AddPrice("LF between sign and digits", QByteArray("\t-\n5"), "-0.05");
    AddPrice("quoted, with LF", QByteArray("\"1\n2\""), "0.12");
}

QTEST_MAIN(HostileFilesTest)
#include "hostile_files_test.moc"
