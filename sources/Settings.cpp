#include "Settings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

constexpr qint64 MSecsPerDay = 86400000;
// 0100-01-01 and 9999-12-31 in days from the origin.
constexpr double MinDays = -693593;
constexpr double MaxDays = 2958466;

const QDate OriginDate(1899, 12, 30);

} // namespace

QDateTime DateTimeOrigin()
{
    return QDateTime(OriginDate, QTime(0, 0), Qt::LocalTime);
}

qint64 DateTimeToMilliseconds(const QDateTime &Value)
{
    const QDateTime Local = Value.toLocalTime();
    const qint64 Days = OriginDate.daysTo(Local.date());
    const qint64 TimeOfDay = Local.time().msecsSinceStartOfDay();
    return Days >= 0 ? Days * MSecsPerDay + TimeOfDay : Days * MSecsPerDay - TimeOfDay;
}

double DateTimeToDays(const QDateTime &Value)
{
    const qint64 Ms = DateTimeToMilliseconds(Value);
    const qint64 Days = Ms / MSecsPerDay;
    return double(Days) + double(Ms % MSecsPerDay) / double(MSecsPerDay);
}

std::optional<QDateTime> DaysToDateTime(double Days)
{
    if (!std::isfinite(Days) || Days < MinDays || Days >= MaxDays)
        return std::nullopt;
    const double Whole = std::trunc(Days);
    qint64 TimeOfDay = qint64(std::llround(std::fabs(Days - Whole) * double(MSecsPerDay)));
    if (TimeOfDay >= MSecsPerDay)
        TimeOfDay = MSecsPerDay - 1;
    return QDateTime(OriginDate.addDays(qint64(Whole)), QTime::fromMSecsSinceStartOfDay(int(TimeOfDay)),
                     Qt::LocalTime);
}

QByteArray EncodeLastUpdateCheck(const QDateTime &Value)
{
    const double Days = DateTimeToDays(Value);
    quint64 Bits = 0;
    std::memcpy(&Bits, &Days, sizeof Bits);
    QByteArray Stored(8, '\0');
    qToLittleEndian(Bits, Stored.data());
    return Stored;
}

std::optional<QDateTime> DecodeLastUpdateCheck(const QByteArray &Stored)
{
    if (Stored.size() != 8)
        return std::nullopt;
    const quint64 Bits = qFromLittleEndian<quint64>(Stored.constData());
    double Days = 0;
    std::memcpy(&Days, &Bits, sizeof Days);
    return DaysToDateTime(Days);
}

qint64 WholeDaysBetween(const QDateTime &A, const QDateTime &B)
{
    const qint64 Span = DateTimeToMilliseconds(A) - DateTimeToMilliseconds(B);
    return (Span < 0 ? -Span : Span) / MSecsPerDay;
}

bool UpdateCheckDue(const QDateTime &LastUpdateCheck, const QDateTime &Now)
{
    return WholeDaysBetween(LastUpdateCheck, Now) >= 7;
}

namespace {

// A whole number of 32 bits, as the store gives it back: text from the file, a number when it was
// written in this run.
std::optional<qint64> StoredWholeNumber(const QVariant &Value)
{
    switch (Value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool Ok = false;
        const qint64 Number = Value.toLongLong(&Ok);
        if (Ok && Number >= -2147483648LL && Number <= 4294967295LL)
            return Number;
        return std::nullopt;
    }
    case QMetaType::QString: {
        static const QRegularExpression WholeNumber(QStringLiteral("^[+-]?[0-9]{1,10}$"));
        const QString Text = Value.toString();
        if (!WholeNumber.match(Text).hasMatch())
            return std::nullopt;
        const qint64 Number = Text.toLongLong();
        if (Number >= -2147483648LL && Number <= 4294967295LL)
            return Number;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool Flush(QSettings &Store, QString *Error)
{
    Store.sync();
    if (Store.status() == QSettings::NoError)
        return true;
    if (Error)
        *Error = QStringLiteral("Cannot create file \"%1\".").arg(Store.fileName());
    return false;
}

} // namespace

TSettingsRead ReadStoredSettings(QSettings &Store, bool &RunMinimized, QDateTime &LastUpdateCheck)
{
    if (Store.status() != QSettings::NoError)
        return TSettingsRead::NotOpened;
    if (Store.contains(RunMinimizedKey)) {
        const std::optional<qint64> Number = StoredWholeNumber(Store.value(RunMinimizedKey));
        if (!Number)
            return TSettingsRead::WrongType;
        RunMinimized = *Number != 0;
    }
    if (Store.contains(LastUpdateCheckKey)) {
        const QVariant Value = Store.value(LastUpdateCheckKey);
        if (Value.typeId() != QMetaType::QByteArray)
            return TSettingsRead::WrongType;
        const std::optional<QDateTime> When = DecodeLastUpdateCheck(Value.toByteArray());
        if (!When)
            return TSettingsRead::WrongType;
        LastUpdateCheck = *When;
    }
    return TSettingsRead::Read;
}

bool WriteStoredRunMinimized(QSettings &Store, bool RunMinimized, QString *Error)
{
    Store.setValue(RunMinimizedKey, RunMinimized ? 1 : 0);
    return Flush(Store, Error);
}

bool WriteStoredLastUpdateCheck(QSettings &Store, const QDateTime &Value, QString *Error)
{
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(Value));
    return Flush(Store, Error);
}
