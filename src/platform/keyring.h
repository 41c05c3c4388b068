#pragma once
#include <QString>
#include <functional>
#include <optional>

// The desktop's keyring, through QtKeychain: the freedesktop Secret Service
// (GNOME Keyring, KWallet, KeePassXC) on Linux, the Credential Manager on
// Windows, the Keychain on macOS. Passwords are kept under the program's
// name with the user name as key. Every answer comes later, from the event
// loop; nothing here waits for the keyring, which may first ask the user
// to unlock it.
namespace platform {

// Whether this desktop has a keyring at all; on Linux, a Secret Service
// running or startable on the session bus. Asked once, at the first use.
bool haskeyring();

// The password kept for `user`, or nothing when there is none or the
// keyring could not be read (a locked keyring that stayed locked).
void readpassword(const QString& user,
                  std::function<void(const std::optional<QString>& password)> done);

// Keeps `password` for `user`; `done` says whether the keyring took it.
void writepassword(const QString& user, const QString& password,
                   std::function<void(bool stored)> done);

// Removes what is kept for `user`, if anything.
void deletepassword(const QString& user);

} // namespace platform
