// Dates as the interface shows them: in the interface language's own form,
// whatever the system's region, with the local time zone.
#pragma once

#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/ReferenceDate.hpp"

#include <QString>

namespace vessora::LocalizedDate {

// Day, abbreviated month and year, without a time: "Mar 15, 2025",
// "15. März 2025", "15 mars 2025", "15 mar 2025".
QString abbreviatedDate(Date date, AppLanguage language);

// Abbreviated date and short time: "Mar 15, 2025, 2:30 PM",
// "15. März 2025, 14:30".
QString abbreviatedDateTime(Date date, AppLanguage language);

} // namespace vessora::LocalizedDate
