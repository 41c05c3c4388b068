#include "windows/noticewindow.h"

#include "platform/resstrings.h"
#include "platform/shell.h"

using namespace platform;

noticewindow::noticewindow(const Layout& layout) : QWidget(nullptr), layout(layout) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(layout.size);
    closewin = new QPushButton(this);
    closewin->setGeometry(layout.button);
    Shape1 = new QFrame(this);
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setGeometry(layout.frame);
    msg = new QLabel(this);
    msg->setWordWrap(true);
    msg->setFont(layout.font);
    msg->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    msg->setGeometry(layout.text);
    Label1 = new LinkLabel(website(), this);
    Label1->setGeometry(layout.link);
    if (layout.centred) {
        msg->setAlignment(Qt::AlignCenter);
        Label1->setAlignment(Qt::AlignCenter);
    }
    connect(closewin, &QPushButton::clicked, this, &noticewindow::closewin_Click);
    connect(Label1, &LinkLabel::Click, this, &noticewindow::Label1_Click);
    Form_Load();
}

void noticewindow::Form_Load() {
    setWindowTitle(LoadResString(layout.title));
    closewin->setText(LoadResString(119));
    msg->setText(LoadResString(layout.message));
}

void noticewindow::Label1_Click() {
    openwebsite();
}

void noticewindow::closewin_Click() {
    close();
}
