#include "queue/comandospool.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "connection/protocol.h"
#include "platform/textfile.h"
#include "platform/winsock.h"
#include "queue/dispatch.h"

namespace comandospool {

namespace {
// Links on their way through dispatch, in the order they came.
QList<inflightlink*> inflight;
// Rows dispatch has added to the spool so far.
qint64 added = 0;
origin next = origin::server;

void disablebuttons(quillharbor& form) {
    form.sup->setEnabled(false);
    form.sdown->setEnabled(false);
    form.scancel->setEnabled(false);
}

// A row taken by spoolnext is on its way through dispatch.
bool handingon() {
    for (const inflightlink* link : inflight)
        if (link->fromspool) return true;
    return false;
}
} // namespace

QStringList spoolentries() {
    QStringList entries;
    for (const inflightlink* link : inflight)
        if (link->placed) entries << link->link;
    if (principal::hasmainwindow()) entries += principal::mainwindow().spoollist->items();
    for (const inflightlink* link : inflight)
        if (!link->placed) entries << link->link;
    return entries + protocol::waitinglinks();
}

void savespool() {
    principal::spoolfile().changed();
}

void nextlinkfrom(origin from) {
    next = from;
}

inflightlink::inflightlink(const QString& text)
    : link(text), fromspool(next == origin::spoolrow), placed(fromspool), mark(added) {
    const origin from = next;
    next = origin::server;
    inflight.append(this);
    // A new link is on disk before anything else happens to it; a row, or a
    // message filed as it was read, is there already.
    if (from == origin::server)
        principal::spoolfile().append(platform::oneline(link));
    else
        savespool();
}

inflightlink::~inflightlink() {
    inflight.removeOne(this);
    savespool();
}

bool inflightlink::nextinline() const {
    if (fromspool) return true;
    if (handingon()) return false;
    // Rows added since this link came are behind it; any other row is ahead.
    return principal::mainwindow().spoollist->ListCount() <= added - mark;
}

void inflightlink::fetching() {
    placed = true;
    savespool();
}

void inflightlink::waitinspool() {
    platform::ListBox& list = *principal::mainwindow().spoollist;
    const qint64 behind = added - mark;
    list.AddItem(link, int(qMax<qint64>(list.ListCount() - behind, 0)));
    ++added;
}

void spoolnext() {
    quillharbor& form = principal::mainwindow();
    // Only while connected, idle, and with something waiting; and one row
    // at a time, also when ticks come while the last one is handed on.
    if (form.alfa->State() != platform::Winsock::sckConnected || form.bajando ||
        form.spoollist->ListCount() < 1 || handingon())
        return;
    const QString link = form.spoollist->List(0);
    form.spoollist->RemoveItem(0);
    if (form.spoollist->ListCount() == 0) disablebuttons(form);
    // Still in spool.ini, now as the link handed on, until dispatch is done with it.
    nextlinkfrom(origin::spoolrow);
    dispatchlink(link);
    platform::DoEvents();
}

void spoolcancel() {
    quillharbor& form = principal::mainwindow();
    // With no row selected nothing is removed.
    if (form.spoollist->RemoveItem(form.spoollist->ListIndex())) savespool();
    disablebuttons(form);
    form.spoollist->setListIndex(-1);
}

void spooldown() {
    quillharbor& form = principal::mainwindow();
    platform::ListBox& list = *form.spoollist;
    const int last = list.ListCount() - 1;
    const int sel = list.ListIndex();
    // The last row, an empty list or no selection: nothing moves.
    if (sel == last || sel < 0) {
        list.setFocus();
        return;
    }
    const QString moved = list.List(sel);
    list.setList(sel, list.List(sel + 1));
    list.setList(sel + 1, moved);
    list.setListIndex(sel + 1);
    list.setFocus();
    savespool();
}

void spoolup() {
    quillharbor& form = principal::mainwindow();
    platform::ListBox& list = *form.spoollist;
    const int sel = list.ListIndex();
    // The first row or no selection: nothing moves.
    if (sel == 0 || sel < 0) {
        list.setFocus();
        return;
    }
    const QString moved = list.List(sel);
    list.setList(sel, list.List(sel - 1));
    list.setList(sel - 1, moved);
    list.setListIndex(sel - 1);
    list.setFocus();
    savespool();
}

} // namespace comandospool

void quillharbor::spoollist_Click() {
    sup->setEnabled(true);
    sdown->setEnabled(true);
    scancel->setEnabled(true);
}

void quillharbor::sup_Click() {
    comandospool::spoolup();
}
void quillharbor::sdown_Click() {
    comandospool::spooldown();
}
void quillharbor::scancel_Click() {
    comandospool::spoolcancel();
}
