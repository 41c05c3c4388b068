#include "platform/keyring.h"

#include <qt6keychain/keychain.h>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#endif

namespace platform {

namespace {
const QString service = QStringLiteral("Quillharbor");

// Starts `job` for `user`; `finished` runs once with it, and the job then
// deletes itself.
void run(QKeychain::Job* job, const QString& user, std::function<void(QKeychain::Job&)> finished) {
    job->setKey(user);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [finished = std::move(finished)](QKeychain::Job* done) { finished(*done); });
    job->start();
}
} // namespace

bool haskeyring() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a session bus, or with nothing on it that answers for secrets,
    // there is no keyring. The bus daemon tells that at once; a job would
    // only fail, like one that a locked keyring refused.
    static const bool present = [] {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        const QString name = QStringLiteral("org.freedesktop.secrets");
        const QDBusConnectionInterface* daemon = bus.interface();
        return daemon->isServiceRegistered(name).value() ||
               daemon->activatableServiceNames().value().contains(name);
    }();
    return present;
#else
    return true;
#endif
}

void readpassword(const QString& user,
                  std::function<void(const std::optional<QString>& password)> done) {
    run(new QKeychain::ReadPasswordJob(service), user,
        [done = std::move(done)](QKeychain::Job& job) {
            if (job.error() == QKeychain::NoError)
                done(static_cast<QKeychain::ReadPasswordJob&>(job).textData());
            else
                done(std::nullopt);
        });
}

void writepassword(const QString& user, const QString& password,
                   std::function<void(bool stored)> done) {
    auto* job = new QKeychain::WritePasswordJob(service);
    job->setTextData(password);
    run(job, user, [done = std::move(done)](QKeychain::Job& finished) {
        done(finished.error() == QKeychain::NoError);
    });
}

void deletepassword(const QString& user) {
    run(new QKeychain::DeletePasswordJob(service), user, [](QKeychain::Job&) {});
}

} // namespace platform
