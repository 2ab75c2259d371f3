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

// A case named after its field.
void AddPrice(const char* field, const QString& shown) {
    AddPrice(field, QByteArray(field), shown);
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

    void signsAndPoints_data();
    void signsAndPoints() { CheckPrice(); }
    void beyondRange_data();
    void beyondRange() { CheckPrice(); }
    void notDecimal_data();
    void notDecimal() { CheckPrice(); }
    void blanksInPrices_data();
    void blanksInPrices() { CheckPrice(); }
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

// Amounts: the number read, divided by 100, in at most 15 significant plain
// digits, then ".00" without a point, or "0" if the point is not third from
// the end.
void HostileFilesTest::signsAndPoints_data() {
    AddPriceColumns();
    AddPrice("+5", "0.05");
    AddPrice("--5", "0.00");
    AddPrice("+-1", "0.00");
    AddPrice("5-", "0.05");
    AddPrice(".5", "0.0050");
    AddPrice("5.", "0.05");
    AddPrice("-.5", "-0.0050");
    AddPrice("1.2.3", "0.0120");
    AddPrice("-0", "0.00");
    AddPrice("-0.0", "0.00");
    AddPrice("sign alone", QByteArray("-"), "0.00");
    AddPrice("point alone", QByteArray("."), "0.00");
    AddPrice("exponent without digits", QByteArray("1e"), "0.01");
    AddPrice("exponent sign without digits", QByteArray("1e-"), "0.01");
    AddPrice("D exponent", QByteArray("1D2"), "1.00");
    AddPrice("negative exponent", QByteArray("1e-2"), "0.00010");
    AddPrice("leading zeros past 15 digits", QByteArray("00000000000000000000123"), "1.23");
    AddPrice("12abc", "0.12");
}

void HostileFilesTest::beyondRange_data() {
    AddPriceColumns();
    AddPrice("1e400", "0.00");
    AddPrice("-1e400", "0.00");
    AddPrice("1e-400", "0.00");
    AddPrice("400 digits", QByteArray(400, '9'), "0.00");
    AddPrice("exponent of 30 digits", QByteArray("1e999999999999999999999999999999"), "0.00");
    AddPrice("negative exponent of 30 digits", QByteArray("1e-999999999999999999999999999999"),
             "0.00");
    AddPrice("5000 digits brought back by the exponent", "1" + QByteArray(5000, '0') + "e-5000",
             "0.01");
    AddPrice("16 digits", QByteArray("1234567890123456"), "12345678901234.60");
    AddPrice("17 nines", QByteArray("99999999999999999"), "1000000000000000.00");
    AddPrice("1e20", "1000000000000000000.00");
    AddPrice("300 digits", "1" + QByteArray(299, '0'), "1" + QString(297, u'0') + ".00");
    AddPrice("largest double", QByteArray("1.7976931348623157e308"),
             "179769313486232" + QString(292, u'0') + ".00");
    AddPrice("smallest negative subnormal amount", QByteArray("-4.9406564584124654e-322"),
             "-0." + QString(323, u'0') + "4940656458412470");
}

void HostileFilesTest::notDecimal_data() {
    AddPriceColumns();
    AddPrice("&H10", "0.00");
    AddPrice("&O7", "0.00");
    AddPrice("&h10", "0.00");
    AddPrice("0x10", "0.00");
    AddPrice("currency sign",
             QByteArray("\xA3"
                        "12"),
             "0.00");
    AddPrice("letters", QByteArray("abc"), "0.00");
}

void HostileFilesTest::blanksInPrices_data() {
    AddPriceColumns();
    AddPrice("tab and LF between digits", QByteArray("1\t2\n3"), "1.23");
    AddPrice("blanks everywhere", QByteArray(" 1 2 3 4 "), "12.34");
    AddPrice("LF between sign and digits", QByteArray("\t-\n5"), "-0.05");
    AddPrice("blanks round the point", QByteArray("1 . 5"), "0.0150");
    AddPrice("blank inside the exponent", QByteArray("1e 2"), "1.00");
    AddPrice("quoted, with LF", QByteArray("\"1\n2\""), "0.12");
    AddPrice("only blanks, tabs and LFs", QByteArray(" \t\n \t\n"), "0.00");
}

QTEST_MAIN(HostileFilesTest)
#include "hostile_files_test.moc"
