#include "VessoraCore/Updates/UpdateCheckSchedule.hpp"

namespace vessora::UpdateCheckSchedule {

bool shouldCheck(bool automatically, std::optional<Date> lastAttempt, Date now) {
    if (!automatically)
        return false;
    if (!lastAttempt || *lastAttempt > now)
        return true;
    return now - *lastAttempt >= interval;
}

} // namespace vessora::UpdateCheckSchedule
