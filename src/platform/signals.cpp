#include "platform/signals.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
std::function<void()> ending;

#ifdef Q_OS_UNIX
int wakeup[2] = {-1, -1};

// A signal handler may do almost nothing: it only wakes the event loop.
void handler(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeup[1], &byte, 1);
}
#endif
} // namespace

void onterminate(std::function<void()> shutdown) {
    ending = std::move(shutdown);
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(application, &QGuiApplication::commitDataRequest, application,
                         [](QSessionManager&) {
                             if (ending) ending();
                         });
    }
#ifdef Q_OS_UNIX
    if (wakeup[0] >= 0 || ::pipe(wakeup) != 0) return;
    ::fcntl(wakeup[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(wakeup[1], F_SETFD, FD_CLOEXEC);
    ::fcntl(wakeup[1], F_SETFL, O_NONBLOCK);
    auto* notifier =
        new QSocketNotifier(wakeup[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const auto got = ::read(wakeup[0], &byte, 1);
        if (ending) ending();
    });
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#endif
}

} // namespace platform
