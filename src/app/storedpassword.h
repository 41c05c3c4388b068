#pragma once
#include <QString>
#include <functional>

// Where the account's password lives between runs: in the desktop's keyring
// when there is one, under the user name; in vars.ini otherwise, as the
// reader of that file has always taken it. A password that vars.ini holds
// where a keyring exists moves into the keyring, and leaves the file at the
// next save. Nothing here deletes a password that could not be read.
namespace storedpassword {

// Asks the keyring for the password of `user`; `found` gets it later, or ""
// when the keyring has none or could not be read. False, and no answer,
// when there is no keyring to ask.
bool recall(const QString& user, std::function<void(const QString& password)> found);

// The keyring is to keep `password` for `user` (a password from vars.ini,
// or one a login used); once it has, the entry of a previous user goes.
// The same account is written once a run, however often it logs in.
void keep(const QString& user, const QString& password);

// The value of "pass=" in vars.ini for the account the window shows: empty
// when the keyring is known to hold this password for this user, the
// password itself otherwise (no keyring, a write refused or still under way).
QString forfile(const QString& user, const QString& password);

// Forgets what this run learnt of the keyring (a new main window).
void forget();

} // namespace storedpassword
