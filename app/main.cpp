#include "main_window.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    pricelookup::MainWindow window;
    if (!window.Loaded())
        return 1;
    window.ShowCentred();
    return app.exec();
}
