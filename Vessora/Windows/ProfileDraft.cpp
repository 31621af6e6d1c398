#include "Vessora/Windows/ProfileDraft.hpp"

namespace vessora {

ProfileDraft::ProfileDraft(StackProfile profile, QObject* parent)
    : QObject(parent), profile_(std::move(profile)) {}

void ProfileDraft::setProfile(StackProfile profile) {
    if (profile == profile_)
        return;
    profile_ = std::move(profile);
    emit profileChanged();
    emit changed();
}

void ProfileDraft::edit(const std::function<void(StackProfile&)>& change) {
    StackProfile next = profile_;
    change(next);
    setProfile(std::move(next));
}

void ProfileDraft::setFlag(bool& flag, bool value) {
    if (flag == value)
        return;
    flag = value;
    emit flagsChanged();
    emit changed();
}

void ProfileDraft::setShowDetails(bool shown) {
    setFlag(showDetails_, shown);
}

void ProfileDraft::setShowCertificate(bool shown) {
    setFlag(showCertificate_, shown);
}

void ProfileDraft::setShowDatabase(bool shown) {
    setFlag(showDatabase_, shown);
}

} // namespace vessora
