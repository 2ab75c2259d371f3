#include "main_window.h"

#include "placement.h"
#include "price_column_model.h"
#include "price_file.h"
#include "price_list_accessible.h"
#include "price_list_view.h"
#include "texts.h"
#include "wait_window.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

namespace pricelookup {

namespace {

// Text from the file functions of data/: UTF-8 on Windows, the system's own bytes elsewhere.
QString SystemText(const std::string& text) {
#ifdef Q_OS_WIN
    return QString::fromStdString(text);
#else
    return QFile::decodeName(QByteArray::fromStdString(text));
#endif
}

char32_t ToolkitCaseFold(char32_t c) {
    return QChar::toCaseFolded(c);
}

} // namespace

MainWindow::MainWindow() {
    InstallPriceListAccessibility();
    BuildControls();
    Form_Load();
}

MainWindow::~MainWindow() = default;

void MainWindow::Form_Load() {
    // The file is opened in the current directory itself; its path is only
    // for messages, and may be unknown where the directory has lost its name.
    const std::optional<std::string> pathBytes = PriceFilePath();
    const QString path = pathBytes ? SystemText(*pathBytes) : texts::PriceFileInCurrentFolder();

    const PriceFileStatus status = MeasurePriceFile();
    if (!status.ok) {
        ReportStartupError(pathBytes ? texts::CannotOpen(path, SystemText(status.reason))
                                     : texts::CannotOpenInLostFolder());
        return;
    }

    try {
        // What the table needs is known from the size: take it before the
        // progress window shows, so that a file too large is refused at once.
        table_.ReserveForFile(status.size);
        LoadTable(path, status.size);
    } catch (const std::bad_alloc& error) {
        // The load tells what the whole file needs; before it began, only the
        // room taken ahead of it was asked for.
        const auto* load = dynamic_cast<const LoadOutOfMemory*>(&error);
        const std::uint64_t need = load ? load->need : PriceTable::ReservationForFile(status.size);
        // Give back all the load took, so that the message can be shown.
        finder_.reset();
        for (PriceColumnModel* model : models_)
            model->SetTable(nullptr, TextEncoding::Utf8);
        table_ = PriceTable();
        if (frmWait_)
            frmWait_->hide();
        loaded_ = false;
        ReportStartupError(texts::OutOfMemory(path, need));
    }
}

void MainWindow::LoadTable(const QString& path, std::uint64_t fileSize) {
    frmWait_ = std::make_unique<WaitWindow>();
    frmWait_->Start(fileSize);
    // A large file is read on every core, the finder built as it loads. The
    // other threads touch neither the bar nor the table: this one is told
    // their lines' lengths in sums, which the count takes as it would each of
    // the lines, as no line of a file within the budget can be refused.
    LoadOptions options;
    options.progressBudget = frmWait_->Progress().Max() - frmWait_->Progress().Value();
    options.fold = &ToolkitCaseFold;
    // A file that changed while it was read is read again: the bar starts over.
    options.startOver = [this](std::uint64_t size) {
        frmWait_->Start(size);
        return frmWait_->Progress().Max() - frmWait_->Progress().Value();
    };
    // While the file is still being written, the load waits for it with the
    // window painted.
    options.waiting = [this](LoadWait why) { frmWait_->Waiting(why == LoadWait::Settling); };
    SystemPriceFiles files;
    LoadResult result = LoadPriceFile(
        files, table_, [this](std::uint64_t lineLength) { frmWait_->Step(lineLength); }, options);
    frmWait_->Finish();
    if (!result.ok) {
        const QString reason = SystemText(result.reason);
        ReportStartupError(result.changed      ? texts::ChangedWhileRead(path)
                           : result.openFailed ? texts::CannotOpen(path, reason)
                                               : texts::CannotRead(path, reason));
        return;
    }

    for (PriceColumnModel* model : models_)
        model->SetTable(&table_, result.encoding);
    finder_ = std::move(result.finder);
    loaded_ = true;
}

void MainWindow::ReportStartupError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    QMessageBox box(QMessageBox::Critical, texts::StartupErrorTitle(), message, QMessageBox::Ok);
    box.exec();
}

const ProgressCount& MainWindow::Progress() const {
    static const ProgressCount kNotStarted;
    return frmWait_ ? frmWait_->Progress() : kNotStarted;
}

void MainWindow::ShowCentred() {
    ShowCentredWithFrame(this);
    activateWindow();
    ListView1->setFocus();
}

void MainWindow::AlignRowAreas() {
    const PriceListView* views[] = {ListView1, ListView2, ListView3, ListView4};
    int top = 0;
    int bottom = std::numeric_limits<int>::max();
    for (const PriceListView* view : views) {
        top = std::max(top, view->y() + view->NaturalRowsTop());
        bottom = std::min(bottom, view->y() + view->NaturalRowsBottom());
    }
    // Whole rows only: a row cut at the bottom would take a click without
    // being in view.
    const int rowHeight = ListView1->RowHeight();
    const int height = std::max(1, (bottom - top) / rowHeight) * rowHeight;
    for (PriceListView* view : {ListView1, ListView2, ListView3, ListView4})
        view->SetRowArea(top - view->y(), height);
}

void MainWindow::SyncRow(int row, std::initializer_list<PriceListView*> lists,
                         const PriceListView* lead) {
    const bool leadShows = lead->RowShown(row);
    const int top = lead->TopRow();
    for (PriceListView* list : lists) {
        if (list->RowCount() <= row)
            continue;
        list->SelectRow(row);
        if (leadShows)
            list->EnsureRowVisibleFrom(row, top);
        else
            list->EnsureRowVisible(row);
    }
}

void MainWindow::ShareScroll(const PriceListView* from, int topRow) {
    for (PriceListView* list : {ListView1, ListView2, ListView3, ListView4}) {
        if (list != from)
            list->SetTopRow(topRow);
    }
}

void MainWindow::ListView1_ItemClick(int row) {
    SyncRow(row, {ListView2, ListView3, ListView4}, ListView1);
}
void MainWindow::ListView2_ItemClick(int row) {
    SyncRow(row, {ListView1, ListView3, ListView4}, ListView2);
}
void MainWindow::ListView3_ItemClick(int row) {
    SyncRow(row, {ListView1, ListView2, ListView4}, ListView3);
}
void MainWindow::ListView4_ItemClick(int row) {
    SyncRow(row, {ListView1, ListView2, ListView3}, ListView4);
}

std::optional<int> MainWindow::FindPartCode(const QString& text) const {
    if (!finder_)
        return std::nullopt;
    const QByteArray utf8 = text.toUtf8();
    const auto row = finder_->Find(std::string_view(utf8.constData(), utf8.size()));
    return row ? std::optional<int>(static_cast<int>(*row)) : std::nullopt;
}

void MainWindow::Text1_KeyDown(int keyCode) {
    if (keyCode == Qt::Key_Backspace) {
        // The text as it was before the Backspace acts on it.
        const QString text = Text1->text();
        if (!text.isEmpty())
            foundItem_ = FindPartCode(text);
        else if (ListView1->RowCount() > 0) {
            ListView1->SelectRow(0);
            // Not scrolled into view, but it is where a screen reader's user is.
            ListView1->AnnounceCurrentRow();
        }
    }
    if (!foundItem_)
        return;
    ListView1->EnsureRowVisible(*foundItem_);
    const int selected = ListView1->SelectedRow();
    if (selected >= 0)
        SyncRow(selected, {ListView2, ListView3, ListView4}, ListView1);
}

void MainWindow::Text1_Change() {
    const QString text = Text1->text();
    if (!text.isEmpty())
        foundItem_ = FindPartCode(text);
    else
        foundItem_ = ListView1->RowCount() > 0 ? std::optional<int>(0) : std::nullopt;
    if (!foundItem_)
        return;
    // The found part is what a screen reader speaks next, though the keyboard
    // stays in the search box.
    ListView1->PickRow(*foundItem_);
    SyncRow(*foundItem_, {ListView2, ListView3, ListView4}, ListView1);
}

void MainWindow::Command1_Click() {
    hide();
    QCoreApplication::exit(0);
}

void MainWindow::Command2_Click() {
    const std::optional<int> row = FindPartCode(Text1->text());
    if (!row) {
        QMessageBox box(QMessageBox::Information, texts::NotFoundTitle(), texts::NotFound(),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    // All four lists, as the search box does: a part code highlighted beside
    // another part's prices would read as one part.
    ListView1->PickRow(*row);
    SyncRow(*row, {ListView2, ListView3, ListView4}, ListView1);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The key-down handler runs before the key acts on the search box.
    if (watched == Text1 && event->type() == QEvent::KeyPress)
        Text1_KeyDown(static_cast<QKeyEvent*>(event)->key());
    // Enter presses the focused button.
    if ((watched == Command1 || watched == Command2) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace pricelookup
