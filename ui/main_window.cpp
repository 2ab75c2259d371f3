#include "main_window.h"

#include "layout.h"
#include "placement.h"
#include "price_column_model.h"
#include "price_file.h"
#include "price_list_accessible.h"
#include "price_list_view.h"
#include "texts.h"
#include "wait_window.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

namespace pricelookup {

namespace {

const QColor kHighlight(192, 255, 255);
const QColor kHeader(224, 224, 224);

void SetBackground(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::Window, colour);
    label->setPalette(p);
}

// The face standing in for Times New Roman may run wider than the labels were
// drawn for: narrow it, as little as needed, until the caption keeps a pixel
// clear of the border on either side.
void FitCaption(QLabel* label) {
    QFont font = label->font();
    const int room = label->contentsRect().width() - 2;
    for (int stretch = 99; stretch >= 75; --stretch) {
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= room)
            break;
        font.setStretch(stretch);
    }
    label->setFont(font);
}

QLabel* HeaderLabel(QWidget* parent, const char* name, const QString& text, QRect rect,
                    const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(9.75);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    label->setAutoFillBackground(true);
    SetBackground(label, colour);
    FitCaption(label);
    return label;
}

// Text from the file seam: UTF-8 on Windows, the system's own bytes elsewhere.
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
    BuildControls();
    Form_Load();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
    setWindowTitle(texts::MainTitle());
    resize(Twips(9480), Twips(6795));

    Label1 = HeaderLabel(this, "Label1", texts::PartCodeHeader(), TwipsRect(150, 105, 1605, 315),
                         kHighlight);
    Label3 = HeaderLabel(this, "Label3", texts::DescriptionHeader(),
                         TwipsRect(1815, 105, 4830, 315), kHeader);
    Label4 = HeaderLabel(this, "Label4", texts::CostPriceHeader(), TwipsRect(6705, 90, 1215, 315),
                         kHeader);
    Label5 = HeaderLabel(this, "Label5", texts::RetailPriceHeader(), TwipsRect(7965, 90, 1440, 315),
                         kHeader);

    const struct {
        const char* name;
        QRect rect;
        int columnWidth;
    } lists[kColumnCount] = {
        {"ListView1", TwipsRect(150, 450, 1620, 5700), Twips(1440)},
        {"ListView2", TwipsRect(1785, 450, 4890, 5700), Twips(3300)},
        {"ListView3", TwipsRect(6690, 435, 1245, 5700), Twips(1440)},
        {"ListView4", TwipsRect(7950, 420, 1485, 5715), Twips(1440)},
    };
    PriceListView* views[kColumnCount];
    for (int i = 0; i < kColumnCount; ++i) {
        models_[i] = new PriceColumnModel(PartCode + i, this);
        views[i] = new PriceListView(this);
        views[i]->setObjectName(QLatin1String(lists[i].name));
        views[i]->setGeometry(lists[i].rect);
        views[i]->setModel(models_[i]);
        views[i]->SetColumnWidth(lists[i].columnWidth);
    }
    ListView1 = views[0];
    ListView2 = views[1];
    ListView3 = views[2];
    ListView4 = views[3];
    AlignRowAreas();

    Label7 = new QLabel(texts::SearchFor(), this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setGeometry(TwipsRect(150, 6300, 900, 255));
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The label was drawn for a narrower default font than many desktops have:
    // rather than cut its caption, step the font down until the caption fits
    // with a pixel to spare.
    QFont captionFont = Label7->font();
    while (QFontMetrics(captionFont).horizontalAdvance(Label7->text()) > Label7->width() - 1 &&
           captionFont.pointSizeF() > 6)
        captionFont.setPointSizeF(captionFont.pointSizeF() - 0.5);
    Label7->setFont(captionFont);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(TwipsRect(1080, 6300, 3795, 300));
    Text1->setMaxLength(std::numeric_limits<int>::max()); // no limit of its own
    Text1->installEventFilter(this);

    Command2 = new QPushButton(texts::SearchButton(), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(TwipsRect(4965, 6300, 1200, 315));
    Command1 = new QPushButton(texts::ExitButton(), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(TwipsRect(8235, 6300, 1200, 315));
    // Enter and Esc press no button on their own; Enter presses the focused
    // one, like Space (eventFilter).
    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
    }

    for (QLabel* label : {Label1, Label3, Label4, Label5, Label7})
        label->setFocusPolicy(Qt::NoFocus);
    // Each label names the control it stands over or beside, for screen readers too.
    Label1->setBuddy(ListView1);
    Label3->setBuddy(ListView2);
    Label4->setBuddy(ListView3);
    Label5->setBuddy(ListView4);
    Label7->setBuddy(Text1);
    setTabOrder(ListView1, ListView2);
    setTabOrder(ListView2, ListView3);
    setTabOrder(ListView3, ListView4);
    setTabOrder(ListView4, Command1);
    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Command2);

    connect(ListView1, &PriceListView::GotFocus, this, &MainWindow::ListView1_GotFocus);
    connect(ListView2, &PriceListView::GotFocus, this, &MainWindow::ListView2_GotFocus);
    const std::pair<PriceListView*, void (MainWindow::*)(int)> clicks[] = {
        {ListView1, &MainWindow::ListView1_ItemClick},
        {ListView2, &MainWindow::ListView2_ItemClick},
        {ListView3, &MainWindow::ListView3_ItemClick},
        {ListView4, &MainWindow::ListView4_ItemClick},
    };
    for (const auto& [view, handler] : clicks) {
        connect(view, &PriceListView::ItemClick, this, handler);
        // Moving the selection with the keyboard counts as a click.
        connect(view, &PriceListView::ItemMovedByKeyboard, this, handler);
        connect(view, &PriceListView::ScrolledByUser, this,
                [this, view](int top) { ShareScroll(view, top); });
    }
    connect(Text1, &QLineEdit::textChanged, this, &MainWindow::Text1_Change);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);

    ListView1->setFocus();
}

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
        // At least the room taken for the table; when the table outgrew it,
        // what it holds scaled up to the whole file by the share read (the
        // lines' lengths, and an ending of at least one byte for each).
        std::uint64_t need = PriceTable::ReservationForFile(status.size);
        const ProgressCount& progress = Progress();
        const std::uint64_t read =
            progress.Value() > ProgressCount::kHeadStart
                ? progress.Value() - ProgressCount::kHeadStart + table_.size()
                : 0;
        if (read > 0)
            need = std::max(need, static_cast<std::uint64_t>(double(table_.MemoryUsed()) *
                                                             double(status.size) / double(read)));
        // A load in parts fills tables of its own, gone by now: it tells.
        if (const auto* parts = dynamic_cast<const LoadOutOfMemory*>(&error))
            need = std::max(need, parts->need);
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
    LoadResult result = LoadPriceFile(
        table_, [this](std::uint64_t lineLength) { frmWait_->Step(lineLength); }, options);
    frmWait_->Finish();
    if (!result.ok) {
        ReportStartupError(texts::CannotRead(path, SystemText(result.reason)));
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

void MainWindow::ListView1_GotFocus() {
    SetBackground(Label1, kHighlight);
    SetBackground(Label3, kHeader);
}

void MainWindow::ListView2_GotFocus() {
    SetBackground(Label3, kHighlight);
    SetBackground(Label1, kHeader);
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
        else if (ListView1->RowCount() > 0)
            SelectFromSearch(0);
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
    SelectFromSearch(*foundItem_);
    ListView1->EnsureRowVisible(*foundItem_);
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
    SelectFromSearch(*row);
    ListView1->EnsureRowVisible(*row);
}

void MainWindow::SelectFromSearch(int row) {
    ListView1->SelectRow(row);
    // The found part is what a screen reader should speak next, though the
    // keyboard stays in the search box or on the button.
    AnnounceCurrentRow(ListView1, ListView1->currentIndex(), true);
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
