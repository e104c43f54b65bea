// Starts the window with one generator listed at the path given on the
// command line, presses Connect and then closes the window as a user would.
#include "app/dialog.h"
#include "device/generatorids.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString path = app.arguments().value(1);
    Dialog dialog([path] {
        return QList<PortDescription>{{path, path, kGeneratorVendorId, kGeneratorProductId}};
    });
    dialog.show();
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.findChild<QPushButton *>(QStringLiteral("pbConnect"))->click();
        dialog.close();
    });
    return app.exec();
}
