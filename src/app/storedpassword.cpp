#include "app/storedpassword.h"

#include "platform/keyring.h"

#include <QtGlobal>
#include <optional>

namespace storedpassword {

namespace {
struct Account {
    QString user;
    QString password;
    bool operator==(const Account&) const = default;
};

// What the keyring is known to hold: read from it or written to it this run.
std::optional<Account> held;
// The account last given to keep, written or being written.
std::optional<Account> kept;

bool haskeyring() {
    if (platform::haskeyring()) return true;
    static bool told = false;
    if (!told)
        qInfo("No keyring on this desktop: the password stays in vars.ini, "
              "which only its owner may read.");
    told = true;
    return false;
}
} // namespace

bool recall(const QString& user, std::function<void(const QString& password)> found) {
    if (!haskeyring()) return false;
    platform::readpassword(user, [user, found = std::move(found)](const auto& password) {
        if (password) held = Account{user, *password};
        found(password.value_or(QString()));
    });
    return true;
}

void keep(const QString& user, const QString& password) {
    const Account account{user, password};
    if (user.isEmpty() || password.isEmpty() || held == account || kept == account) return;
    kept = account;
    if (!haskeyring()) return;
    platform::writepassword(user, password, [account](bool stored) {
        if (!stored) {
            qInfo("The keyring did not take the password: it stays in vars.ini.");
            return;
        }
        // The previous user's entry goes, unless a later login is for that user.
        const QString latest = kept ? kept->user : account.user;
        if (held && held->user != account.user && held->user != latest)
            platform::deletepassword(held->user);
        held = account;
    });
}

QString forfile(const QString& user, const QString& password) {
    return held == Account{user, password} ? QString() : password;
}

void forget() {
    held.reset();
    kept.reset();
}

} // namespace storedpassword
