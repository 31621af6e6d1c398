// The environment editor's draft: an editable copy of one saved record and
// the flags of the editor's details group and its two sheets. One per
// editor, made from the saved record and dropped with the editor, so a
// changed saved record or another selection starts a fresh draft.
//
// Every setter stores and emits only when the value differs: the record's
// setters emit profileChanged(), the flags' flagsChanged(), and both then
// changed(). Main thread only.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <QObject>

#include <functional>

namespace vessora {

class ProfileDraft : public QObject {
    Q_OBJECT

public:
    explicit ProfileDraft(StackProfile profile, QObject* parent = nullptr);

    const StackProfile& profile() const { return profile_; }
    bool showDetails() const { return showDetails_; }
    bool showCertificate() const { return showCertificate_; }
    bool showDatabase() const { return showDatabase_; }

    void setProfile(StackProfile profile);
    // Changes a copy of the record and stores it:
    //   draft.edit([](StackProfile& p) { p.httpPort = 8081; });
    void edit(const std::function<void(StackProfile&)>& change);

    void setShowDetails(bool shown);
    void setShowCertificate(bool shown);
    void setShowDatabase(bool shown);

signals:
    void profileChanged();
    void flagsChanged();
    void changed();

private:
    void setFlag(bool& flag, bool value);

    StackProfile profile_;
    bool showDetails_ = false;
    bool showCertificate_ = false;
    bool showDatabase_ = false;
};

} // namespace vessora
