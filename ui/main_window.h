#pragma once

#include "part_code_finder.h"
#include "price_table.h"
#include "progress.h"

#include <QWidget>

#include <cstdint>

#include <initializer_list>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pricelookup {

class PriceColumnModel;
class PriceListView;
class WaitWindow;

// The one working window: four lists side by side (part code, description,
// cost price, retail price) under their header labels, and a search row.
// Creating it loads the price file from the current directory behind the
// progress window; the window is shown only when that succeeded.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // Whether the start-up load succeeded; when not, the error was reported.
    bool Loaded() const { return loaded_; }
    // Shows the window centred on the screen, with the part-code list focused,
    // and returns at once: it takes input as soon as the event loop runs.
    void ShowCentred();

    const PriceTable& Table() const { return table_; }
    // The start-up load's count, as the progress bar shows it.
    const ProgressCount& Progress() const;
    // The row of ListView1 last found from the search box (0-based), or nothing.
    std::optional<int> FoundItem() const { return foundItem_; }

    // Event handlers, named after their control and event.
    void ListView1_GotFocus();
    void ListView2_GotFocus();
    void ListView3_GotFocus();
    void ListView4_GotFocus();
    void ListView1_ItemClick(int row);
    void ListView2_ItemClick(int row);
    void ListView3_ItemClick(int row);
    void ListView4_ItemClick(int row);
    void Text1_KeyDown(int keyCode);
    void Text1_Change();
    void Command1_Click();
    void Command2_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    // The tab order, and the controls' events to their handlers.
    void ConnectControls();
    void Form_Load();
    // Reads the price file into the table behind the progress window.
    void LoadTable(const QString& path, std::uint64_t fileSize);
    void ReportStartupError(const QString& message);
    std::optional<int> FindPartCode(const QString& text) const;
    // Gives `label` the highlight and the other header labels the normal colour.
    void HighlightHeader(QLabel* label);
    // Puts the rows of the four lists on the same screen lines, as many in each.
    void AlignRowAreas();
    // Selects `row` and scrolls it into view in each list long enough to have
    // it: to the top row of `lead` when `lead` shows the row.
    void SyncRow(int row, std::initializer_list<PriceListView*> lists, const PriceListView* lead);
    // The user scrolled `from`: the other lists take its top row.
    void ShareScroll(const PriceListView* from, int topRow);

    PriceTable table_;
    std::unique_ptr<PartCodeFinder> finder_;
    std::unique_ptr<WaitWindow> frmWait_;
    std::optional<int> foundItem_;
    bool loaded_ = false;

    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label7;
    PriceListView* ListView1;
    PriceListView* ListView2;
    PriceListView* ListView3;
    PriceListView* ListView4;
    QLineEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    PriceColumnModel* models_[kColumnCount];
};

} // namespace pricelookup
