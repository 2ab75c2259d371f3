#include <QtTest>

class FileFaultsTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(FileFaultsTest)
#include "file_faults_test.moc"
