#ifndef DIALOG_H
#define DIALOG_H

#include "device/portdiscovery.h"
#include "session/generatorrecord.h"

#include <QDialog>

QT_BEGIN_NAMESPACE
class QSerialPort;
class Ui_Dialog;
QT_END_NAMESPACE

// The one window: choose a generator's port, connect, then set each
// channel's delay and width and save them in the device.
class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    // For a caller that knows the serial ports better than the system does,
    // or that names ports to offer after the generators found, whatever
    // their USB identifiers (a pseudo-terminal, a /dev/serial/by-id path).
    explicit Dialog(PortLister listPorts, QStringList namedPorts = {}, QWidget *parent = nullptr);
    ~Dialog() override;

    // Journal every frame in the host's record from the next Connect on,
    // which opens it; without this call the window keeps none.
    void keepRecord(const RecordSettings &settings) { recordSettings = settings; }

private slots:
    void on_pbUpdate_clicked();
    void on_pbConnect_clicked();
    void on_pbSet_clicked();
    void on_pbSave_clicked();

private:
    // One exchange, kept in the journal.
    void exchange(const QByteArray &frame, int channel, std::optional<PulseSteps> steps);

    Ui_Dialog *ui;
    QSerialPort *port;
    PortLister listPorts;
    QStringList namedPorts;
    RecordSettings recordSettings{false, {}, 0};
    GeneratorRecord *record = nullptr; // from Connect on
};

#endif // DIALOG_H
