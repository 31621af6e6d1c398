#include "VessoraCore/Engine/ReadinessWait.hpp"

#include "VessoraCore/Foundation/DescriptorWait.hpp"
#include "VessoraCore/Process/PortCheck.hpp"

#include <algorithm>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {

namespace {

void drain(int descriptor) {
    char buffer[4096];
    while (::read(descriptor, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

ReadinessWait::Wake ReadinessWait::fileAppears(const std::filesystem::path& file) {
    Wake wake;
    wake.ready = [file] {
        struct stat info {};
        return ::lstat(file.c_str(), &info) == 0;
    };
    // The watch exists before the first look, so no creation goes unseen.
    auto events = std::make_shared<UniqueFd>(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (*events && ::inotify_add_watch(events->get(), file.parent_path().c_str(),
                                       IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) >= 0)
        wake.events = std::move(events);
    else
        wake.recheck = std::chrono::milliseconds(10);
    return wake;
}

ReadinessWait::Wake ReadinessWait::portsAccept(std::vector<std::int64_t> ports) {
    auto seen = std::make_shared<std::vector<bool>>(ports.size(), false);
    Wake wake;
    wake.ready = [ports = std::move(ports), seen] {
        for (std::size_t index = 0; index < ports.size(); ++index) {
            if ((*seen)[index])
                continue;
            if (!PortCheck::accepts(ports[index]))
                return false;
            (*seen)[index] = true;
        }
        return true;
    };
    wake.recheck = std::chrono::milliseconds(2);
    return wake;
}

ReadinessWait::ReadinessWait(int attempts, std::chrono::milliseconds pause, Wake wake,
                             std::vector<int> exits)
    : attempts_(attempts), pause_(pause), wake_(std::move(wake)), exits_(std::move(exits)) {}

bool ReadinessWait::run(const std::function<void()>& check, const std::function<bool()>& attempt) {
    const Clock::time_point started = Clock::now();
    for (int index = 1; index <= attempts_; ++index) {
        check();
        const bool couldAnswer = wake_.ready();
        if (attempt())
            return true;
        if (index < attempts_)
            pauseUntil(Clock::now() + pause_, !couldAnswer, true);
        else
            pauseUntil(std::max(Clock::now() + pause_, started + attempts_ * pause_), false, false);
    }
    return false;
}

void ReadinessWait::pauseUntil(Clock::time_point end, bool early, bool exits) {
    std::vector<int> descriptors;
    if (exits)
        descriptors = exits_;
    const std::size_t watched = descriptors.size();
    const int events = early && wake_.events ? wake_.events->get() : -1;
    descriptors.push_back(events);
    for (;;) {
        if (early && wake_.ready())
            return;
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return;
        Clock::duration limit = end - now;
        if (early && wake_.recheck.count() > 0)
            limit = std::min<Clock::duration>(limit, wake_.recheck);
        const std::vector<bool> readable = DescriptorWait::readable(descriptors, limit);
        if (std::any_of(readable.begin(), readable.begin() + static_cast<std::ptrdiff_t>(watched),
                        [](bool flag) { return flag; }))
            return;
        if (readable.back())
            drain(events);
    }
}

} // namespace vessora
