#ifndef DIAGRAMCOMMAND_H
#define DIAGRAMCOMMAND_H

struct CtlRequest;

// kestrane-ctl diagram: draws the request's profile as apply would set the
// generator (channels it does not name are unknown), warns of widths cut to
// the budget, and writes the SVG to stdout or to the output file, which is
// replaced whole or not at all. Returns the exit code.
int drawProfileDiagram(const CtlRequest &request);

#endif // DIAGRAMCOMMAND_H
