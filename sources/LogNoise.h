#pragma once

#include <QString>
#include <QtGlobal>

// Messages that Qt and the web engine print at every start of a program that draws in software
// (and, where the sandbox is off, at every start): they tell the user nothing they can act on and
// bury real errors. Warnings, errors and everything else pass.
bool IsStartupChatter(QtMsgType Type, const char *Category, const QString &Message, bool SoftwareDrawing);

// The logging rules the program starts with: the engine's start-up report stays off unless the
// user's own QT_LOGGING_RULES turn it on.
inline const QString QuietLoggingRules = QStringLiteral("qt.webenginecontext.info=false");
