#include "Vessora/App/QuitOnSignal.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace vessora {
namespace {

constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> signalPipe{-1};

void onSignal(int) {
    const int saved = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const char byte = 'q';
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

std::system_error lastError(const char* what) {
    return std::system_error(errno, std::generic_category(), what);
}

} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw lastError("Could not create the signal pipe");
    readEnd_.reset(fds[0]);
    writeEnd_.reset(fds[1]);
    signalPipe.store(writeEnd_.get());

    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(readEnd_.get(), bytes, sizeof bytes) > 0) {
        }
        emit quitRequested();
    });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals)
        if (::sigaction(signal, &action, nullptr) != 0)
            throw lastError("Could not install a signal handler");
}

QuitOnSignal::~QuitOnSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
    signalPipe.store(-1);
}

} // namespace vessora
