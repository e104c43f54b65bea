#ifndef IDENTIFICATION_H
#define IDENTIFICATION_H

#include "web/generatorstatus.h"

#include <QByteArray>
#include <QString>

// The identification document that networked instruments answer at
// /lxi/identification, in the identification schema's namespace: who made
// the instrument, its model, serial number and software version, and the
// VISA resource strings it answers. `homepage` is the status page's URL.
QByteArray identificationDocument(const GeneratorStatus &status, const QString &homepage);

#endif // IDENTIFICATION_H
