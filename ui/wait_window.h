#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace pricelookup {

// The small progress window shown while the price file loads.
class WaitWindow : public QWidget {
    Q_OBJECT

public:
    WaitWindow();

    QProgressBar* Bar() const { return bar_; }
    // Shows the window centred on the screen and lets it be painted.
    void ShowAndPaint();
    // Gives the bar a new value and repaints it, when that changes the picture.
    void SetBarValue(int value);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Flush();

    QLabel* label_;
    QProgressBar* bar_;
};

} // namespace pricelookup
