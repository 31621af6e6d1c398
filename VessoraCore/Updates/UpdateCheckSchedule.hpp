// When an automatic update check is due: never while automatic checks are
// off; otherwise with no earlier attempt, when the last attempt lies in the
// future (the clock was set back), or once a full day has passed since it.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"

#include <chrono>
#include <optional>

namespace vessora::UpdateCheckSchedule {

inline constexpr std::chrono::seconds interval{86400};

bool shouldCheck(bool automatically, std::optional<Date> lastAttempt, Date now);

} // namespace vessora::UpdateCheckSchedule
