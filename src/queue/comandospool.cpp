#include "queue/comandospool.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "platform/winsock.h"
#include "queue/dispatch.h"

namespace comandospool {

namespace {
QStringList inflight;

void disablebuttons(quillharbor& form) {
    form.sup->setEnabled(false);
    form.sdown->setEnabled(false);
    form.scancel->setEnabled(false);
}
} // namespace

QStringList spoolentries() {
    QStringList entries = inflight;
    if (principal::hasmainwindow()) entries += principal::mainwindow().spoollist->items();
    return entries;
}

void savespool() {
    principal::writespool(spoolentries());
}

inflightlink::inflightlink(const QString& text) : link(text) {
    inflight.append(link);
    savespool();
}

inflightlink::~inflightlink() {
    inflight.removeOne(link);
    savespool();
}

void spoolnext() {
    quillharbor& form = principal::mainwindow();
    // 1. Only while connected, idle, and with something waiting.
    if (form.alfa->State() != platform::Winsock::sckConnected || form.bajando ||
        form.spoollist->ListCount() < 1)
        return;
    // 2.
    const QString link = form.spoollist->List(0);
    form.spoollist->RemoveItem(0);
    // 3.
    if (form.spoollist->ListCount() == 0) disablebuttons(form);
    // 4. dispatchlink keeps the link in spool.ini until it is done with it.
    dispatchlink(link);
    // 5.
    platform::DoEvents();
}

void spoolcancel() {
    quillharbor& form = principal::mainwindow();
    // 1. With no row selected nothing is removed.
    if (form.spoollist->RemoveItem(form.spoollist->ListIndex())) savespool();
    // 2.
    disablebuttons(form);
    form.spoollist->setListIndex(-1);
}

void spooldown() {
    quillharbor& form = principal::mainwindow();
    platform::ListBox& list = *form.spoollist;
    // 1.
    const int last = list.ListCount() - 1;
    const int sel = list.ListIndex();
    // 2, 3. The last row, an empty list or no selection: nothing moves.
    if (sel == last || sel < 0) {
        list.setFocus();
        return;
    }
    // 4.
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
    // 1.
    const int sel = list.ListIndex();
    // 2, 3. The first row or no selection: nothing moves.
    if (sel == 0 || sel < 0) {
        list.setFocus();
        return;
    }
    // 4.
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
