#ifndef STATUSPAGE_H
#define STATUSPAGE_H

#include "web/generatorstatus.h"

#include <QByteArray>

// The status page as a complete HTML document: identity, the link, the VISA
// resource strings, the channels' table and the timing diagram inline. Every
// text it shows is escaped. It carries no script and no style of its own:
// it loads /status.js and /status.css from the daemon, so a reload shows
// the current state even with scripting off, and with it on the page
// follows the changes by itself.
QByteArray statusPage(const GeneratorStatus &status);

#endif // STATUSPAGE_H
