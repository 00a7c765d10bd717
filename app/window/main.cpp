// ExportEdb: the desktop window of the Exchange database converter.
#include "app/window/export_edb_app.h"

int main(int argc, char** argv) {
    app::CExportEdbApp application(argc, argv);
    return application.InitInstance();
}
