#include "app/dialog.h"
#include "ui_dialog.h"

#include "device/commandframes.h"
#include "device/exchange.h"
#include "device/portopening.h"
#include "pulse/pulsesteps.h"

#include <QDebug>
#include <QSerialPort>

#include <cstdlib>

Dialog::Dialog(QWidget *parent) :
    Dialog(systemPorts, {}, parent)
{}

Dialog::Dialog(PortLister listPorts, QStringList namedPorts, QWidget *parent) :
    QDialog(parent),
    ui(new Ui_Dialog),
    port(new QSerialPort(this)),
    listPorts(std::move(listPorts)),
    namedPorts(std::move(namedPorts))
{
    ui->setupUi(this);
    on_pbUpdate_clicked();
}

Dialog::~Dialog()
{
    delete ui;
}

void Dialog::on_pbUpdate_clicked()
{
    qDebug() << "Update device list";
    QStringList names;
    const QList<PortDescription> found = generatorPorts(listPorts());
    for (const PortDescription &generator : found)
        names.append(generator.portName);
    names += namedPorts;
    for (const QString &name : std::as_const(names))
        qDebug() << name;
    ui->cbPortList->clear();
    ui->cbPortList->addItems(names);
    ui->cbPortList->setEnabled(!names.isEmpty());
    ui->pbConnect->setEnabled(!names.isEmpty());
}

void Dialog::on_pbConnect_clicked()
{
    if (ui->cbPortList->count() == 0)
        return;
    // The current entry, so that a user with two generators can pick one.
    const QString portName = ui->cbPortList->currentText();
    if (port->isOpen())
        port->close();
    if (!openGeneratorPort(*port, portName)) {
        qCritical() << "Fatal error: Can't open device";
        std::exit(EXIT_FAILURE);
    }
    // Opened only now: the window's start-up does not wait for it.
    record = new GeneratorRecord(recordSettings, this);
    if (const Result<PortDescription> chosen = chooseGeneratorPort(portName, listPorts()))
        record->setGenerator({chosen->serialNumber, chosen->portName});
    const QList<QWidget *> portWidgets{ui->cbPortList, ui->pbConnect, ui->pbUpdate, ui->lPort};
    for (QWidget *widget : portWidgets)
        widget->setEnabled(false);
    const QList<QWidget *> pulseWidgets{ui->sbPulseWidth, ui->pbSet,    ui->pbSave, ui->sbChannel,
                                        ui->sbDelay,      ui->lChannel, ui->lDelay, ui->lWidth};
    for (QWidget *widget : pulseWidgets)
        widget->setEnabled(true);
}

void Dialog::on_pbSet_clicked()
{
    const int channel = ui->sbChannel->value();
    const int delayPs = ui->sbDelay->value();
    const int widthPs = ui->sbPulseWidth->value();
    const PulseSteps steps = pulseStepsFor(delayPs, widthPs);
    ui->sbDelay->setValue(steps.delaySteps * kStepPs);
    ui->sbPulseWidth->setValue(steps.widthSteps * kStepPs);

    const QByteArray command = buildSetCommand(channel, steps.delaySteps, steps.widthSteps);
    qDebug() << "string result" << command;
    exchange(command, channel, steps);
}

void Dialog::on_pbSave_clicked()
{
    exchange(kSaveCommand, 0, std::nullopt);
}

void Dialog::exchange(const QByteArray &frame, int channel, std::optional<PulseSteps> steps)
{
    const qint64 ticket = record->frameSent(QStringLiteral("window"), frame, channel, steps);
    const QByteArray reply = exchangeCommand(*port, frame);
    record->frameSettled(ticket, reply, outcomeOfReply(reply));
}
