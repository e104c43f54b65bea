#ifndef RECORDTEXTS_H
#define RECORDTEXTS_H

#include "common/result.h"

#include <QByteArray>
#include <QString>

constexpr int kMaxLabelLength = 32;
constexpr int kMaxSetupNameLength = 64;

// A channel's label as the record keeps it: at most 32 characters, each
// printable (no control, format or unassigned code points, no lone
// surrogates). Empty clears the label.
Result<QString> checkedLabel(const QString &label);

// A setup's name: 1 to 64 characters, each printable as for a label.
Result<QString> checkedSetupName(const QString &name);

// Text that must be UTF-8; the failure says where it is not.
Result<QString> decodedUtf8(const QByteArray &bytes);

#endif // RECORDTEXTS_H
