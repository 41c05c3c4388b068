#include "windows/acercade.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/controls.h"
#include "platform/shell.h"
#include "platform/wncrypt.h"

#include <QTime>

using namespace platform;

namespace {
OneWindow<AcercaDe> theinstance;
}

AcercaDe::AcercaDe() : QDialog(nullptr) {
    setWindowTitle(QString());
    setFixedSize(336, 314);
    Command1 = new QPushButton(QStringLiteral("Salir"), this);
    place(Command1, 248, 280, 80, 26);
    Label3 = new QLabel(QStringLiteral("Label3"), this);
    Label3->setAlignment(Qt::AlignCenter);
    place(Label3, 8, 236, 320, 18);
    Label2 = new QLabel(this);
    Label2->setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(8.25);
    font.setBold(true);
    Label2->setFont(font);
    place(Label2, 8, 214, 320, 18);
    Label1 = new LinkLabel(website(), this);
    Label1->setAlignment(Qt::AlignCenter);
    place(Label1, 8, 258, 320, 18);
    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/about.jpg")));
    place(Image1, 8, 8, 320, 200);
    connect(Command1, &QPushButton::clicked, this, &AcercaDe::Command1_Click);
    connect(Label1, &LinkLabel::Click, this, &AcercaDe::Label1_Click);
}

AcercaDe* AcercaDe::instance() {
    return theinstance.instance();
}

QString AcercaDe::versionline(int major, int minor, int revision) {
    return QStringLiteral("QHB ") + QString::number(major) + QLatin1Char('.') +
           QString::number(minor) + QStringLiteral(" Rev. ") + QString::number(revision);
}

void AcercaDe::Show() {
    if (theinstance.instance()) // already open, and modal: nothing else could ask
        return;
    AcercaDe window;
    theinstance.set(&window);
    window.Form_Load();
    window.setWindowModality(Qt::ApplicationModal);
    window.exec();
}

void AcercaDe::Form_Load() {
    Label2->setText(versionline(principal::major(), principal::minor(), principal::revision()));
    // Without the component the line stays empty; the window works all the same.
    Label3->setText(GetVersionWnCrypt(QTime::currentTime()));
}

void AcercaDe::Label1_Click() {
    openwebsite();
}

void AcercaDe::Command1_Click() {
    close();
}

void quillharbor::logo_DblClick() {
    AcercaDe::Show();
}
