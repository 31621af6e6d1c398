// Reads the font configuration on a thread of its own while Qt sets up the
// application, so the first window that lays out text does not wait for it
// (its files are parsed at the first font lookup otherwise). Joined when it
// goes out of scope.
#pragma once

#include <thread>

namespace vessora {

class FontWarmup {
public:
    FontWarmup();

private:
    std::jthread thread_;
};

} // namespace vessora
