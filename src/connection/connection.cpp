#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/storedpassword.h"
#include "connection/protocol.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "queue/comandospool.h"

using namespace platform;
using principal::connstate;

void quillharbor::conectar_Click() {
    // As typed: the login line trims, this check does not.
    const QString user = usuario->text();
    const QString pass = password->text();

    // Both are needed; the user name is asked for first.
    if (user.isEmpty() || pass.isEmpty()) {
        msg->setForeColor(vbRed);
        if (user.isEmpty()) {
            msg->setText(LoadResString(106));
            usuario->setFocus();
        } else {
            msg->setText(LoadResString(110));
            password->setFocus();
        }
        return;
    }

    // A socket that is not closed refuses the request; the wish to be
    // connected still counts, so the next poll logs in or reconnects.
    msg->setForeColor(vbBlack);
    msg->setText(LoadResString(109));
    alfa->Connect();
    DoEvents();
    connstate = 3;
    principal::umsgflag = 1;
    statustimer->setEnabled(true);
}

void quillharbor::desconectar_Click() {
    CancelSearch = true;
    connstate = 0;
    alfa->Close();
    reintentos->setEnabled(false);
}

void quillharbor::password_KeyDown(int KeyCode, int) {
    if (KeyCode == 13) {
        conectar_Click();
        conectar->setFocus();
    }
}

void quillharbor::statustimer_Timer() {
    DoEvents();
    statuspoll(*alfa);
    DoEvents();
    comandospool::spoolnext();
}

void quillharbor::statuspoll(Winsock& socket) {
    const int state = socket.State();
    switch (state) {
    case Winsock::sckClosed:
        socket.Close();
        if (connstate == 2 || connstate == 3) {
            connstate = 3;
            reintentos->setEnabled(true); // a running timer keeps its schedule
            msg->setText(LoadResString(113));
            msg->setForeColor(vbRed);
        }
        conectar->setEnabled(true);
        break;
    case Winsock::sckConnecting:
        msg->setText(msg->text() + QStringLiteral(" ."));
        break;
    case Winsock::sckConnected:
        if (connstate == 3) {
            socket.SendData(protocol::loginline(usuario->text(), password->text()));
            // The account a login used is the one kept for the next start.
            storedpassword::keep(usuario->text(), password->text());
            DoEvents();
            // A rejection or a Disconnect that came in while events ran
            // stands: logging in now would undo it.
            if (connstate == 3) {
                connstate = 2;
                msg->setForeColor(vbBlack);
                msg->setText(LoadResString(107));
                if (reintentos->Enabled()) reintentos->setEnabled(false);
            }
        }
        desconectar->setEnabled(true);
        conectar->setEnabled(false);
        break;
    case Winsock::sckClosing:
    case Winsock::sckError:
        socket.Close();
        break;
    default:
        break;
    }
    // Disconnect is what stops the reconnection: it stays available for as
    // long as a connection is wanted, whatever the socket does meanwhile.
    if (connstate == 2 || connstate == 3)
        desconectar->setEnabled(true);
    else if (state == Winsock::sckClosed)
        desconectar->setEnabled(false);
    Shape2->setFillColor(state == Winsock::sckConnected ? vbGreen : vbRed);
    DoEvents();
}

void quillharbor::reintentos_Timer() {
    msg->setText(LoadResString(114));
    msg->setForeColor(vbBlack);
    alfa->Connect();
}
