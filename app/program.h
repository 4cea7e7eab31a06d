// The program's name and version as the window titles show them.
#pragma once

#include <QString>

namespace sigillon {

inline const QString kProgramTitle = QStringLiteral("Sigillon 1.0.1");

}  // namespace sigillon
