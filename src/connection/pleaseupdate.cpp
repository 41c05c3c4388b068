#include "connection/pleaseupdate.h"

#include "platform/resstrings.h"
#include "platform/shell.h"

#include <QPointer>

using namespace platform;

namespace {
QPointer<pleaseupdate> theinstance;
}

pleaseupdate::pleaseupdate() : QWidget(nullptr) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(360, 150);
    Shape1 = new QFrame(this);
    Shape1->setFrameShape(QFrame::Box);
    place(Shape1, 10, 10, 340, 60);
    msg = new QLabel(this);
    msg->setAlignment(Qt::AlignCenter);
    msg->setWordWrap(true);
    QFont font = msg->font();
    font.setBold(true);
    font.setPointSizeF(11);
    msg->setFont(font);
    msg->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    place(msg, 16, 16, 328, 48);
    Label1 = new LinkLabel(website(), this);
    Label1->setAlignment(Qt::AlignCenter);
    place(Label1, 10, 78, 340, 22);
    closewin = new QPushButton(this);
    place(closewin, 105, 110, 150, 28);
    connect(closewin, &QPushButton::clicked, this, &pleaseupdate::closewin_Click);
    connect(Label1, &LinkLabel::Click, this, &pleaseupdate::Label1_Click);
    Form_Load();
}

pleaseupdate* pleaseupdate::instance() {
    return theinstance;
}

void pleaseupdate::Show() {
    if (!theinstance) theinstance = new pleaseupdate;
    theinstance->show();
    theinstance->raise();
    theinstance->activateWindow();
}

void pleaseupdate::Form_Load() {
    setWindowTitle(LoadResString(105));
    closewin->setText(LoadResString(119));
    msg->setText(LoadResString(120));
}

void pleaseupdate::Label1_Click() {
    openwebsite();
}

void pleaseupdate::closewin_Click() {
    close();
}
