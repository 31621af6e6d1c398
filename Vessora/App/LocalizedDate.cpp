#include "Vessora/App/LocalizedDate.hpp"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <chrono>

namespace vessora::LocalizedDate {

namespace {

QLocale localeOf(AppLanguage language) {
    return QLocale(QString::fromStdString(AppLanguages::id(language)));
}

QDateTime localTime(Date date) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(milliseconds).toLocalTime();
}

} // namespace

QString abbreviatedDate(Date date, AppLanguage language) {
    const QLocale locale = localeOf(language);
    // Qt has no abbreviated date format: the locale's long form without the
    // weekday and with the short month name ("dddd, d. MMMM yyyy" becomes
    // "d. MMM yyyy").
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    dateFormat.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return locale.toString(localTime(date).date(), dateFormat.trimmed());
}

QString abbreviatedDateTime(Date date, AppLanguage language) {
    return abbreviatedDate(date, language) + QStringLiteral(", ") +
           localeOf(language).toString(localTime(date).time(), QLocale::ShortFormat);
}

} // namespace vessora::LocalizedDate
