// The least a program showing the kestrane window's form can take to start:
// the same form (widgets, layouts, theme icon) on a plain dialog, linked
// without the serial library and looking for no ports.
#include "bench/exposereporter.h"
#include "ui_dialog.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const ExposeReporter reporter(app);
    QDialog dialog;
    Ui_Dialog form;
    form.setupUi(&dialog);
    dialog.show();
    return app.exec();
}
