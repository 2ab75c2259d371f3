// The main window's controls as designed: where each stands and what it
// shows, the order the Tab key takes, and what their events call.

#include "main_window.h"

#include "layout.h"
#include "price_column_model.h"
#include "price_list_view.h"
#include "texts.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>
#include <utility>

namespace pricelookup {

namespace {

const QColor kHighlight(192, 255, 255);
const QColor kHeader(224, 224, 224);

enum class Kind { HeaderLabel, List, CaptionLabel, SearchBox, Button };

struct ControlDesign {
    const char* name;
    Kind kind;
    QString (*caption)();        // none for the lists and the search box
    QRect twips;                 // left, top, width, height
    int column = 0;              // the price column a list shows
    int columnTwips = 0;         // the width of a list's column
    const char* label = nullptr; // the label that names the control, for screen readers too
};

// In the order they are made, which is the order assistive technology meets them.
const ControlDesign kControls[] = {
    {"Label1", Kind::HeaderLabel, texts::PartCodeHeader, {150, 105, 1605, 315}},
    {"Label3", Kind::HeaderLabel, texts::DescriptionHeader, {1815, 105, 4830, 315}},
    {"Label4", Kind::HeaderLabel, texts::CostPriceHeader, {6705, 90, 1215, 315}},
    {"Label5", Kind::HeaderLabel, texts::RetailPriceHeader, {7965, 90, 1440, 315}},
    {"ListView1", Kind::List, nullptr, {150, 450, 1620, 5700}, PartCode, 1440, "Label1"},
    {"ListView2", Kind::List, nullptr, {1785, 450, 4890, 5700}, Description, 3300, "Label3"},
    {"ListView3", Kind::List, nullptr, {6690, 435, 1245, 5700}, CostPrice, 1440, "Label4"},
    {"ListView4", Kind::List, nullptr, {7950, 420, 1485, 5715}, RetailPrice, 1440, "Label5"},
    {"Label7", Kind::CaptionLabel, texts::SearchFor, {150, 6300, 900, 255}},
    {"Text1", Kind::SearchBox, nullptr, {1080, 6300, 3795, 300}, 0, 0, "Label7"},
    {"Command2", Kind::Button, texts::SearchButton, {4965, 6300, 1200, 315}},
    {"Command1", Kind::Button, texts::ExitButton, {8235, 6300, 1200, 315}},
};

const char* const kTabOrder[] = {"ListView1", "ListView2", "ListView3", "ListView4",
                                 "Command1",  "Text1",     "Command2"};

void SetBackground(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::Window, colour);
    label->setPalette(p);
}

// The header captions are black: their backgrounds are light whatever the
// desktop's colours, and a dark theme's light text would vanish on them.
void SetCaptionColour(QLabel* label) {
    QPalette p = label->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text})
        p.setColor(role, Qt::black);
    label->setPalette(p);
}

// The face standing in for Times New Roman may run wider than the labels were
// drawn for: narrow it, as little as needed, until the caption keeps a pixel
// clear of the border on either side.
void FitHeaderCaption(QLabel* label) {
    QFont font = label->font();
    const int room = label->contentsRect().width() - 2;
    const int width = QFontMetrics(font).horizontalAdvance(label->text());
    if (width <= room)
        return;
    // Widths scale about linearly with the stretch: start from that guess
    // rather than try every step, as each step loads the face again.
    int stretch = std::clamp(100 * room / std::max(width, 1), 75, 99);
    font.setStretch(stretch);
    while (stretch > 75 && QFontMetrics(font).horizontalAdvance(label->text()) > room)
        font.setStretch(--stretch);
    label->setFont(font);
}

void StyleHeaderLabel(QLabel* label) {
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(9.75);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    label->setAutoFillBackground(true);
    SetBackground(label, kHeader);
    SetCaptionColour(label);
    FitHeaderCaption(label);
}

// The label was drawn for a narrower default font than many desktops have:
// rather than cut its caption, step the font down until the caption fits with
// a pixel to spare.
void StyleCaptionLabel(QLabel* label) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > label->width() - 1 &&
           font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

QWidget* NewControl(QWidget* window, const ControlDesign& design, PriceColumnModel** model) {
    switch (design.kind) {
    case Kind::HeaderLabel:
    case Kind::CaptionLabel:
        return new QLabel(design.caption(), window);
    case Kind::List:
        *model = new PriceColumnModel(design.column, window);
        return new PriceListView(window);
    case Kind::SearchBox:
        return new QLineEdit(window);
    case Kind::Button:
        return new QPushButton(design.caption(), window);
    }
    return nullptr;
}

// Makes one control as designed; a list comes with the model of its column.
QWidget* MakeControl(QWidget* window, const ControlDesign& design, PriceColumnModel** model) {
    QWidget* control = NewControl(window, design, model);
    control->setObjectName(QLatin1String(design.name));
    const QRect& r = design.twips;
    control->setGeometry(TwipsRect(r.x(), r.y(), r.width(), r.height()));
    switch (design.kind) {
    case Kind::HeaderLabel:
        StyleHeaderLabel(static_cast<QLabel*>(control));
        break;
    case Kind::CaptionLabel:
        StyleCaptionLabel(static_cast<QLabel*>(control));
        break;
    case Kind::List:
        static_cast<PriceListView*>(control)->setModel(*model);
        static_cast<PriceListView*>(control)->SetColumnWidth(Twips(design.columnTwips));
        break;
    case Kind::SearchBox:
        static_cast<QLineEdit*>(control)->setMaxLength(std::numeric_limits<int>::max());
        break;
    case Kind::Button:
        // Enter and Esc press no button on their own; Enter presses the
        // focused one, like Space (eventFilter).
        static_cast<QPushButton*>(control)->setAutoDefault(false);
        static_cast<QPushButton*>(control)->setDefault(false);
        break;
    }
    if (design.kind == Kind::HeaderLabel || design.kind == Kind::CaptionLabel)
        control->setFocusPolicy(Qt::NoFocus);
    return control;
}

template <typename T> T* Child(const QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

} // namespace

void MainWindow::BuildControls() {
    setWindowTitle(texts::MainTitle());
    resize(Twips(9480), Twips(6795));
    PriceColumnModel** model = models_;
    for (const ControlDesign& design : kControls) {
        QWidget* control = MakeControl(this, design, model);
        if (design.kind == Kind::List)
            ++model;
        if (design.label)
            Child<QLabel>(this, design.label)->setBuddy(control);
    }
    Label1 = Child<QLabel>(this, "Label1");
    Label3 = Child<QLabel>(this, "Label3");
    Label4 = Child<QLabel>(this, "Label4");
    Label5 = Child<QLabel>(this, "Label5");
    Label7 = Child<QLabel>(this, "Label7");
    ListView1 = Child<PriceListView>(this, "ListView1");
    ListView2 = Child<PriceListView>(this, "ListView2");
    ListView3 = Child<PriceListView>(this, "ListView3");
    ListView4 = Child<PriceListView>(this, "ListView4");
    Text1 = Child<QLineEdit>(this, "Text1");
    Command1 = Child<QPushButton>(this, "Command1");
    Command2 = Child<QPushButton>(this, "Command2");
    AlignRowAreas();
    ConnectControls();

    // The part-code list starts with the focus, and its header with the highlight.
    ListView1_GotFocus();
    ListView1->setFocus();
}

void MainWindow::ConnectControls() {
    for (std::size_t i = 1; i < std::size(kTabOrder); ++i)
        setTabOrder(Child<QWidget>(this, kTabOrder[i - 1]), Child<QWidget>(this, kTabOrder[i]));

    connect(ListView1, &PriceListView::GotFocus, this, &MainWindow::ListView1_GotFocus);
    connect(ListView2, &PriceListView::GotFocus, this, &MainWindow::ListView2_GotFocus);
    connect(ListView3, &PriceListView::GotFocus, this, &MainWindow::ListView3_GotFocus);
    connect(ListView4, &PriceListView::GotFocus, this, &MainWindow::ListView4_GotFocus);
    const std::pair<PriceListView*, void (MainWindow::*)(int)> clicks[] = {
        {ListView1, &MainWindow::ListView1_ItemClick},
        {ListView2, &MainWindow::ListView2_ItemClick},
        {ListView3, &MainWindow::ListView3_ItemClick},
        {ListView4, &MainWindow::ListView4_ItemClick},
    };
    for (const auto& [view, handler] : clicks) {
        // Moving the selection with the keyboard or a drag counts as a click.
        connect(view, &PriceListView::ItemClick, this, handler);
        connect(view, &PriceListView::ScrolledByUser, this,
                [this, view](int top) { ShareScroll(view, top); });
    }
    connect(Text1, &QLineEdit::textChanged, this, &MainWindow::Text1_Change);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);
    // Text1_KeyDown, and Enter on a button (eventFilter).
    for (QWidget* control : std::initializer_list<QWidget*>{Text1, Command1, Command2})
        control->installEventFilter(this);
}

// The highlight follows the focus into all four lists, so that the header
// shows which list the keys move.
void MainWindow::HighlightHeader(QLabel* label) {
    SetBackground(label, kHighlight);
    for (QLabel* other : {Label1, Label3, Label4, Label5}) {
        if (other != label)
            SetBackground(other, kHeader);
    }
}

void MainWindow::ListView1_GotFocus() {
    HighlightHeader(Label1);
}
void MainWindow::ListView2_GotFocus() {
    HighlightHeader(Label3);
}
void MainWindow::ListView3_GotFocus() {
    HighlightHeader(Label4);
}
void MainWindow::ListView4_GotFocus() {
    HighlightHeader(Label5);
}

} // namespace pricelookup
