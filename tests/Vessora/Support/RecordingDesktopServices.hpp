// Desktop services for tests: records every request instead of opening
// anything, and answers with `accepts`. A file-manager request the desktop
// takes but refuses later (no file manager answers, the folder cannot be
// opened either) keeps its refusal in `laterRefusal` for the test to run.
// Install it with DesktopServices::setCurrent() and remove it at the end of
// the test.
#pragma once

#include "Vessora/App/DesktopServices.hpp"

#include <functional>
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
    bool showInFileManager(const std::filesystem::path& path,
                           std::function<void()> refused) override {
        requests.push_back("show " + path.string());
        laterRefusal = std::move(refused);
        return accepts;
    }

    std::vector<std::string> requests;
    bool accepts = true;
    std::function<void()> laterRefusal;
};

} // namespace vessora
