#ifndef REQUESTEDPORT_H
#define REQUESTEDPORT_H

#include "common/result.h"
#include "device/portdiscovery.h"

#include <QString>

// Fails when the port names an existing file that is not a terminal: it
// can never serve. A port that does not exist yet may still appear.
Result<void> checkRequestedPort(const QString &port);

// Fails, naming them, when more than one generator is attached: which one
// to serve is the operator's choice.
Result<void> checkSingleGenerator(const QList<PortDescription> &ports);

#endif // REQUESTEDPORT_H
