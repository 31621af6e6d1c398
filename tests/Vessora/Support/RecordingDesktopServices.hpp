// Desktop services for tests: records every request instead of opening
// anything, and answers with `accepts`. Install it with
// DesktopServices::setCurrent() and remove it at the end of the test.
#pragma once

#include "Vessora/App/DesktopServices.hpp"

#include <string>
#include <vector>

namespace vessora {

class RecordingDesktopServices : public DesktopServices {
public:
    bool openURL(const std::string& url) override {
        requests.push_back("url " + url);
        return accepts;
    }
    bool openPath(const std::filesystem::path& path) override {
        requests.push_back("open " + path.string());
        return accepts;
    }
    bool showInFileManager(const std::filesystem::path& path) override {
        requests.push_back("show " + path.string());
        return accepts;
    }

    std::vector<std::string> requests;
    bool accepts = true;
};

} // namespace vessora
