// The application: shows the main window and ends when it ends.
#pragma once

#include <QApplication>

namespace app {

class CExportEdbApp : public QApplication {
    Q_OBJECT

  public:
    CExportEdbApp(int& argc, char** argv);

    // Shows the main window maximised and runs until it closes; returns the exit code.
    int InitInstance();
};

}  // namespace app
