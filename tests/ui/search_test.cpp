#include <QtTest>

class SearchTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(SearchTest)
#include "search_test.moc"
