#include "VessoraCore/Foundation/ReferenceDate.hpp"

namespace vessora::ReferenceDate {

double seconds(Date date) {
    auto unix = std::chrono::duration<double>(date.time_since_epoch()).count();
    return unix - unixOffset;
}

Date date(double secondsSinceReference) {
    auto unix = std::chrono::duration<double>(secondsSinceReference + unixOffset);
    return Date(std::chrono::duration_cast<Date::duration>(unix));
}

} // namespace vessora::ReferenceDate
