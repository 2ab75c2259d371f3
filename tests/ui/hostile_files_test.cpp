#include <QtTest>

class HostileFilesTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(HostileFilesTest)
#include "hostile_files_test.moc"
