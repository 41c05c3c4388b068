#include "app/principal.h"

#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "app/storedpassword.h"
#include "config.h"
#include "platform/resstrings.h"
#include "platform/signals.h"
#include "platform/textfile.h"
#include "platform/trayicon.h"

#include <QPointer>
#include <cstdlib>

using platform::LoadResString;

namespace principal {

namespace {
quillharbor* window = nullptr;
std::function<void()> ending;

QString versiontext() {
    return QStringLiteral("%1.%2.%3").arg(major()).arg(minor()).arg(revision());
}

// Sets a caption from the string table; a missing string leaves the design caption.
template <typename Control>
void caption(Control* control, int id, const QString& suffix = QString()) {
    const QString text = LoadResString(id);
    if (!text.isEmpty()) control->setText(text + suffix);
}

void title(QGroupBox* frame, int id) {
    const QString text = LoadResString(id);
    if (!text.isEmpty()) frame->setTitle(text);
}

void tooltip(QWidget* control, int id) {
    const QString text = LoadResString(id);
    if (!text.isEmpty()) control->setToolTip(text);
}

// The keyring's answer to Main for the stored user: the password fills its
// box, unless the user has typed since. When the start was to log in, the
// login follows; without a password the window comes back from the tray,
// and Connect's own red message asks for it.
void recalled(quillharbor& form, const QString& user, const QString& password, bool autologin) {
    if (form.usuario->text() != user || !form.password->text().isEmpty()) return;
    form.password->setText(password);
    if (!autologin || connstate != 0) return;
    if (password.isEmpty()) platform::restorewindow(&form);
    form.conectar_Click();
}
} // namespace

int major() {
    return QH_VERSION_MAJOR;
}
int minor() {
    return QH_VERSION_MINOR;
}
int revision() {
    return QH_VERSION_REVISION;
}

// Built once, before anything else runs.
QString appversion = versiontext();

QString programname() {
    return QStringLiteral("Quillharbor ") + versiontext();
}

qint16 connstate = 0;
qint16 umsgflag = 0;

void Main() {
    // The caption; touching the window creates it, hidden.
    if (!hasmainwindow()) new quillharbor;
    quillharbor& form = mainwindow();
    form.setWindowTitle(programname());

    // Captions and hints from the string table, in this order.
    caption(form.conectar, 101);
    caption(form.desconectar, 102);
    caption(form.Label1, 103, QStringLiteral(" : "));
    caption(form.Label2, 104, QStringLiteral(" : "));
    title(form.msgs, 105);
    tooltip(form.usuario, 111);
    tooltip(form.password, 112);
    title(form.descarga, 116);
    title(form.ddirframe, 117);
    title(form.spoolframe, 118);
    caption(form.opcion1, 121);
    title(form.options, 122);
    caption(form.vlog, 126);

    // The stored settings and spool.
    readvars();
    readspool();

    form.CancelSearch = false;
    form.bajando = false;

    // From now on the state is loaded: a kill or the end of the desktop
    // session shuts down as closing the window does.
    platform::onterminate([] { mainwindow().Form_Unload(); });

    // Let what the settings started settle before the window shows.
    platform::DoEvents();

    // The password: the one vars.ini gave, which moves into the keyring, or
    // the keyring's for the stored user, which comes a moment later.
    const QString user = form.usuario->text();
    const bool autostart = form.Check2->Value() == 1;
    const bool hasuser = user != QString();
    const bool haspassword = form.password->text() != QString();
    storedpassword::keep(user, form.password->text());
    const bool autologin = autostart && hasuser;
    const auto answer = [window = QPointer(&form), user, autologin](const QString& password) {
        if (window) recalled(*window, user, password, autologin);
    };
    const bool recalling = hasuser && !haspassword && storedpassword::recall(user, answer);

    // Auto-login: into the tray, already connecting, or waiting for the keyring.
    if (autologin && (haspassword || recalling)) {
        form.setWindowState(form.windowState() | Qt::WindowMinimized);
        if (haspassword) form.conectar_Click();
    }

    form.Show();
}

quillharbor& mainwindow() {
    return *window;
}
bool hasmainwindow() {
    return window != nullptr;
}
void setmainwindow(quillharbor* form) {
    window = form;
    // A new window has a spool and an account of its own.
    spoolfile().forget();
    storedpassword::forget();
}

void endprogram() {
    if (ending) {
        ending();
        return;
    }
    std::_Exit(0);
}

void setendprogram(std::function<void()> replacement) {
    ending = std::move(replacement);
}

} // namespace principal
