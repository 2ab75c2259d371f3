#include <QtTest>

class StartupTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
