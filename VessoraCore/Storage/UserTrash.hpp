// The user's Trash as freedesktop.org desktops keep it: the item is moved to
// "<trash>/files/<name>" and described by "<trash>/info/<name>.trashinfo"
// ([Trash Info], Path= the URL-encoded absolute original path,
// DeletionDate= local time YYYY-MM-DDThh:mm:ss). The info file is created
// first with O_EXCL, which reserves a name no other program can take; on a
// collision the name gets a ".2", ".3", ... suffix. The item is then renamed
// without replacing anything.
//
// Only the home Trash is used. An item on another file system than the Trash
// is refused (nothing is copied, nothing is moved), because a copy followed
// by a removal is not one step and could leave half of the item behind.
#pragma once

#include <filesystem>
#include <string>

namespace vessora {

class UserTrash {
public:
    // The Trash in $XDG_DATA_HOME (default ~/.local/share).
    UserTrash();
    // A Trash in the given folder (the folder holding "files" and "info").
    explicit UserTrash(std::filesystem::path root);

    const std::filesystem::path& root() const { return root_; }

    // Moves the item into the Trash and returns its new path. Throws
    // VessoraError when it lies on another file system, filesystem_error
    // for other failures; on failure the item and the Trash are unchanged.
    std::filesystem::path trashItem(const std::filesystem::path& item) const;
    // The same, recording `origin` as the place a restore puts it back to
    // (and naming it after `origin`): for an item that was moved aside on
    // its way to the Trash.
    std::filesystem::path trashItem(const std::filesystem::path& item,
                                    const std::filesystem::path& origin) const;

    // "$XDG_DATA_HOME/Trash" when that variable holds an absolute path,
    // else "$HOME/.local/share/Trash".
    static std::filesystem::path defaultRoot();

    // Percent-encodes everything but unreserved characters and "/".
    static std::string encodePath(const std::string& path);

private:
    std::filesystem::path root_;
};

} // namespace vessora
