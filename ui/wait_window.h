#pragma once

#include "progress.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QProgressBar;

namespace pricelookup {

// The small progress window shown while the price file loads. It keeps the
// load's count and hands its bar a new value only when the filled width would
// change, repainting it at once: the load holds the event loop meanwhile.
class WaitWindow : public QWidget {
    Q_OBJECT

public:
    WaitWindow();

    // Shows the window centred on the screen and lets it be painted, then sets
    // the bar for a file of `fileSize` bytes: the head start is written while
    // the maximum is still its first 100.
    void Start(std::uint64_t fileSize);
    // Counts a line of `lineLength` bytes.
    void Step(std::uint64_t lineLength) {
        progress_.Step(lineLength);
        if (static_cast<std::uint64_t>(progress_.BarValue()) >= nextRepaint_)
            Repaint();
    }
    // Keeps the window painted while the load waits for the file to stand
    // still; with `startingOver`, the bar goes back to zero, as what was read
    // will be read again.
    void Waiting(bool startingOver);
    // Gives the bar its exact last value and takes the window off the screen.
    void Finish();

    const ProgressCount& Progress() const { return progress_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void AskForNoMinimiseButton();
    void Repaint();

    QLabel* label_;
    QProgressBar* bar_;
    ProgressCount progress_;
    std::uint64_t repaintEvery_ = 1; // bar units that fill one more pixel
    std::uint64_t nextRepaint_ = 0;
};

} // namespace pricelookup
