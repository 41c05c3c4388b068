#include "windows/createuser.h"

#include "platform/resstrings.h"
#include "platform/shell.h"

#include <QPointer>

using namespace platform;

namespace {
QPointer<createuser> theinstance;
}

createuser::createuser() : QWidget(nullptr) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(420, 190);
    closewin = new QPushButton(this);
    place(closewin, 260, 150, 150, 28);
    Shape1 = new QFrame(this);
    Shape1->setFrameShape(QFrame::Box);
    place(Shape1, 10, 10, 400, 100);
    Label2 = new QLabel(this);
    Label2->setWordWrap(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(9.75);
    Label2->setFont(font);
    Label2->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    place(Label2, 18, 16, 384, 88);
    Label1 = new LinkLabel(website(), this);
    place(Label1, 10, 118, 400, 22);
    connect(closewin, &QPushButton::clicked, this, &createuser::closewin_Click);
    connect(Label1, &LinkLabel::Click, this, &createuser::Label1_Click);
    Form_Load();
}

createuser* createuser::instance() {
    return theinstance;
}

void createuser::Show() {
    if (!theinstance) theinstance = new createuser;
    theinstance->show();
    theinstance->raise();
}

void createuser::Form_Load() {
    closewin->setText(LoadResString(119));
    Label2->setText(LoadResString(124));
    setWindowTitle(LoadResString(125));
}

void createuser::Label1_Click() {
    openwebsite();
}

void createuser::closewin_Click() {
    close();
}
