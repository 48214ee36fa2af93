#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

class QSettings;

// The program's stored settings: "Run minimized" (a whole number, non-zero for true) and "Last
// update check" (8 bytes: a little-endian double counting days since 1899-12-30 00:00 local time,
// the fraction being the time of day). The store is QSettings("Brinmoor", "Kestrune").

inline const QString SettingsOrganization = QStringLiteral("Brinmoor");
inline const QString SettingsApplication = QStringLiteral("Kestrune");
inline const QString RunMinimizedKey = QStringLiteral("Run minimized");
inline const QString LastUpdateCheckKey = QStringLiteral("Last update check");

// The date-time origin, the value of "Last update check" before anything is read.
QDateTime DateTimeOrigin();
// Milliseconds since the origin in the stored form's local-time reckoning; before the origin the
// day count is negative and the time of day still counts forward.
qint64 DateTimeToMilliseconds(const QDateTime &Value);
double DateTimeToDays(const QDateTime &Value);
// Nothing for values no date-time has (not finite, before year 100, after 9999).
std::optional<QDateTime> DaysToDateTime(double Days);

QByteArray EncodeLastUpdateCheck(const QDateTime &Value);
std::optional<QDateTime> DecodeLastUpdateCheck(const QByteArray &Stored);

// Whole days between A and B: the absolute difference truncated toward zero.
qint64 WholeDaysBetween(const QDateTime &A, const QDateTime &B);
// The start-up rule: a check when the last announcement is 7 or more whole days away from Now.
bool UpdateCheckDue(const QDateTime &LastUpdateCheck, const QDateTime &Now);

enum class TSettingsRead
{
    NotOpened, // no store or one that cannot be read: the settings keep their values
    Read,      // the values present were taken
    WrongType, // a value of another type: the caller applies the defaults
};

// Takes the values present in Store. On WrongType the outputs may hold part of what was read.
TSettingsRead ReadStoredSettings(QSettings &Store, bool &RunMinimized, QDateTime &LastUpdateCheck);
// Each writes one value and flushes; false with a message for the user when the store cannot be
// written.
bool WriteStoredRunMinimized(QSettings &Store, bool RunMinimized, QString *Error = nullptr);
bool WriteStoredLastUpdateCheck(QSettings &Store, const QDateTime &Value, QString *Error = nullptr);
