#include "tests/Support/FolderSnapshot.hpp"

#include <fstream>
#include <sstream>

namespace vessora {

namespace fs = std::filesystem;

FolderSnapshot snapshotFolder(const fs::path& folder) {
    FolderSnapshot snapshot;
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error)))
        return snapshot;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        // Lexical: relative() would follow a link to name its target.
        std::string name = item.path().lexically_relative(folder).string();
        fs::file_status status = item.symlink_status();
        if (fs::is_symlink(status)) {
            snapshot[name] = "link:" + fs::read_symlink(item.path()).string();
        } else if (fs::is_directory(status)) {
            snapshot[name] = "dir";
        } else {
            std::ifstream in(item.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            snapshot[name] = "file:" + bytes.str();
        }
    }
    return snapshot;
}

} // namespace vessora
