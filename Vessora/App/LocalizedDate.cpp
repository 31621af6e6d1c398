#include "Vessora/App/LocalizedDate.hpp"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <chrono>

namespace vessora::LocalizedDate {

QString abbreviatedDateTime(Date date, AppLanguage language) {
    const QLocale locale(QString::fromStdString(AppLanguages::id(language)));
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds).toLocalTime();
    // Qt has no abbreviated date format: the locale's long form without the
    // weekday and with the short month name ("dddd, d. MMMM yyyy" becomes
    // "d. MMM yyyy").
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    dateFormat.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return locale.toString(local.date(), dateFormat.trimmed()) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

} // namespace vessora::LocalizedDate
