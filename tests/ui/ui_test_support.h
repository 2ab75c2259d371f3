#pragma once

#include "main_window.h"
#include "price_list_view.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <memory>

namespace pricelookup::testing {

// Part codes A100, B200, b210 and C300, with their descriptions and prices:
// two codes that share a beginning in different cases.
inline const QByteArray kFourParts = "A100,Bolt,125,250\r\n"
                                     "B200,Nut,5,10\r\n"
                                     "b210,Nut small,4,8\r\n"
                                     "C300,Washer,1,2\r\n";

// A fresh directory holding sorted.dat with the given bytes, made the current
// directory for as long as it lives. The file is dated an hour back, as a
// price list mostly is when the program starts: one written just before is
// looked at once more, half a second later.
class PriceDir {
public:
    explicit PriceDir(const QByteArray& bytes) : PriceDir() {
        Write(bytes);
        QFile file(FilePath());
        if (file.open(QIODevice::ReadOnly))
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                             QFileDevice::FileModificationTime);
    }
    PriceDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~PriceDir() { QDir::setCurrent(previous_); }
    PriceDir(const PriceDir&) = delete;
    PriceDir& operator=(const PriceDir&) = delete;

    void Write(const QByteArray& bytes) const {
        QFile file(FilePath());
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    QString Path() const { return dir_.path(); }
    QString FilePath() const { return dir_.filePath(QStringLiteral("sorted.dat")); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// What a directory holds, hidden files included.
inline QStringList Listing(const QString& path) {
    return QDir(path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A file's bytes, or none when it cannot be read.
inline QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The system's words for an error number, as the program shows them.
inline QString Reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// How the program words a file that is not there: the system's message for
// it, without a full stop.
inline QString MissingReason() {
#ifdef Q_OS_WIN
    constexpr int kFileNotFound = 2; // ERROR_FILE_NOT_FOUND
    QString message = qt_error_string(kFileNotFound).trimmed();
    while (message.endsWith(u'.'))
        message.chop(1);
    return message;
#else
    return Reason(ENOENT);
#endif
}

// The price file's path as the program names it: the program reads the
// current directory, which the system gives with every link resolved, and
// writes it with the system's separators.
inline QString ShownPath(const PriceDir& dir) {
    return QDir::toNativeSeparators(QDir(dir.Path()).canonicalPath() +
                                    QStringLiteral("/sorted.dat"));
}

// Closes the next modal message box as soon as it shows, and keeps its text.
class MessageBoxCloser : public QObject {
public:
    MessageBoxCloser() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    text_ = box->text();
                    title_ = box->windowTitle();
                    icon_ = box->icon();
                    buttons_ = box->standardButtons();
                    box->accept();
                    ++closed_;
                }
            }
        });
        timer_.start();
    }
    QString Text() const { return text_; }
    QString Title() const { return title_; }
    QMessageBox::Icon Icon() const { return icon_; }
    QMessageBox::StandardButtons Buttons() const { return buttons_; }
    int Closed() const { return closed_; }

private:
    QTimer timer_;
    QString text_;
    QString title_;
    QMessageBox::Icon icon_ = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons_;
    int closed_ = 0;
};

// Shows the loaded window centred, as the program does, and waits until it is
// active: false when it did not load or never became active.
inline bool OpenWindow(MainWindow& window) {
    if (!window.Loaded())
        return false;
    window.ShowCentred();
    return QTest::qWaitForWindowActive(&window);
}

inline PriceListView* List(const MainWindow& window, int number) {
    return window.findChild<PriceListView*>(QStringLiteral("ListView%1").arg(number));
}

// What a list shows, top to bottom.
inline QStringList ListTexts(const MainWindow& window, int number) {
    QStringList texts;
    const PriceListView* list = List(window, number);
    for (int row = 0; row < list->RowCount(); ++row)
        texts << list->model()->index(row, 0).data().toString();
    return texts;
}

// The table as the screen shows it: one string per row, columns joined by " | ".
inline QStringList ScreenRows(const MainWindow& window) {
    QStringList columns[4];
    for (int c = 0; c < 4; ++c)
        columns[c] = ListTexts(window, c + 1);
    QStringList rows;
    for (int r = 0; r < columns[0].size(); ++r) {
        QStringList cells;
        for (const QStringList& column : columns)
            cells << (r < column.size() ? column[r] : QStringLiteral("<none>"));
        rows << cells.join(QStringLiteral(" | "));
    }
    return rows;
}

// The selected row of each list (-1 for none), ListView1 first.
inline QList<int> SelectedRows(const MainWindow& window) {
    QList<int> rows;
    for (int n = 1; n <= 4; ++n)
        rows << List(window, n)->SelectedRow();
    return rows;
}

// Whether any part of a row shows in the list's viewport.
inline bool RowVisible(const PriceListView& list, int row) {
    return list.visualRect(list.model()->index(row, 0)).intersects(list.viewport()->rect());
}

// Clicks a row of a list with the mouse, as the user does.
inline void ClickRow(PriceListView& list, int row) {
    const QModelIndex index = list.model()->index(row, 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(index).center());
}

// The progress window among the top-level widgets, or null.
inline QWidget* FindWaitWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("frmWait"))
            return widget;
    }
    return nullptr;
}

} // namespace pricelookup::testing
