#include "log/logs.h"

#include "app/quillharbor.h"
#include "log/logfunctions.h"
#include "platform/controls.h"
#include "platform/resstrings.h"

using namespace platform;

namespace {
OneWindow<logs> theinstance;
}

logs::logs() : QWidget(nullptr) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("logs"));
    setFixedSize(569, 377);
    logfile = new QPlainTextEdit(this);
    logfile->setReadOnly(true);
    logfile->setLineWrapMode(QPlainTextEdit::NoWrap);
    logfile->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logfile->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    place(logfile, 7, 8, 555, 329);
    dellog = new QPushButton(this);
    place(dellog, 184, 344, 137, 25);
    closewin = new QPushButton(this);
    place(closewin, 329, 344, 233, 25);
    connect(dellog, &QPushButton::clicked, this, &logs::dellog_Click);
    connect(closewin, &QPushButton::clicked, this, &logs::closewin_Click);
}

logs* logs::instance() {
    return theinstance.instance();
}

void logs::Show() {
    theinstance.Show([] { return new logs; }, &logs::Form_Load);
}

void logs::Form_Load() {
    closewin->setText(LoadResString(119));
    dellog->setText(LoadResString(128));
    logfunctions::showlog(logfile);
}

void logs::dellog_Click() {
    logfunctions::clearlog(logfile);
}

void logs::closewin_Click() {
    close();
}

void quillharbor::vlog_Click() {
    logs::Show();
}
