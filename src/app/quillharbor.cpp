#include "app/quillharbor.h"

#include "app/principal.h"
#include "config.h"
#include "platform/inet.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>

using namespace platform;

namespace {
// Key codes as the key reactions receive them (the Windows virtual-key codes).
constexpr int vbKeyBack = 8;
constexpr int vbKeyReturn = 13;
constexpr int vbKeyDelete = 46;

// The code of a key the reactions look at; 0 for every other key.
int keycode(const QKeyEvent& key) {
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vbKeyReturn;
    case Qt::Key_Backspace:
        return vbKeyBack;
    case Qt::Key_Delete:
        return vbKeyDelete;
    default:
        return 0;
    }
}
} // namespace

quillharbor::quillharbor() {
    principal::setmainwindow(this);
    // The main window lives as long as the program: its icon is the program's,
    // so every window, the secondary ones too, shows the quill.
    QIcon quill;
    for (const char* size : {"48", "64", "128", "256"})
        quill.addFile(QStringLiteral(":/pictures/icon-%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(quill);
    // Fixed layout: 583 by 404 pixels, nothing moves on a resize.
    setFixedSize(583, 404);
    // A small font, as the window was drawn for: every caption fits in both languages.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    logo = new Image(QStringLiteral(":/pictures/logo.png"), this);
    place(logo, 8, 8, 112, 100);

    Frame1 = new QGroupBox(this);
    place(Frame1, 128, 2, 248, 110);
    Label1 = new QLabel(Frame1);
    place(Label1, 8, 16, 82, 22);
    usuario = new QLineEdit(Frame1);
    place(usuario, 92, 16, 148, 22);
    Label2 = new QLabel(Frame1);
    place(Label2, 8, 44, 82, 22);
    password = new QLineEdit(Frame1);
    password->setEchoMode(QLineEdit::Password);
    // Masked with "*" whatever the style would draw.
    password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    place(password, 92, 44, 148, 22);
    conectar = new QPushButton(Frame1);
    place(conectar, 8, 74, 98, 28);
    desconectar = new QPushButton(Frame1);
    desconectar->setEnabled(false);
    place(desconectar, 110, 74, 98, 28);
    Shape2 = new Shape(Frame1);
    place(Shape2, 214, 78, 26, 20);
    Shape2->setToolTip(LoadResString(205));
    Shape2->setAccessibleName(LoadResString(204));

    ddirframe = new QGroupBox(this);
    place(ddirframe, 384, 2, 191, 178);
    Drive1 = new DriveListBox(ddirframe);
    place(Drive1, 8, 20, 175, 24);

    msgs = new QGroupBox(this);
    place(msgs, 8, 114, 368, 56);
    msg = new TextBox(msgs);
    msg->setFont(QFont(QStringLiteral("Arial"), 9));
    msg->setReadOnly(true);
    msg->setFocusPolicy(Qt::ClickFocus); // a line to read, not a stop for Tab
    place(msg, 8, 22, 352, 24);

    descarga = new QGroupBox(this);
    place(descarga, 8, 184, 567, 74);
    ProgressBar = new platform::ProgressBar(descarga);
    place(ProgressBar, 8, 22, 500, 18);
    CancelButton =
        new PictureButton(QStringLiteral(":/pictures/cancel.png"), LoadResString(200), descarga);
    place(CancelButton, 520, 16, 36, 30);
    TimeLabel = new QLabel(descarga);
    place(TimeLabel, 8, 46, 340, 20);
    RateLabel = new QLabel(descarga);
    place(RateLabel, 356, 46, 152, 20);

    spoolframe = new QGroupBox(this);
    place(spoolframe, 8, 262, 567, 84);
    sup = new PictureButton(QStringLiteral(":/pictures/up.png"), LoadResString(201), spoolframe);
    place(sup, 526, 16, 32, 20);
    sdown = new PictureButton(QStringLiteral(":/pictures/down.png"), LoadResString(202), spoolframe);
    place(sdown, 526, 38, 32, 20);
    scancel =
        new PictureButton(QStringLiteral(":/pictures/remove.png"), LoadResString(203), spoolframe);
    place(scancel, 526, 60, 32, 20);
    sup->setEnabled(false);
    sdown->setEnabled(false);
    scancel->setEnabled(false);

    options = new QGroupBox(this);
    place(options, 8, 348, 384, 52);
    GetRight = new QRadioButton(QStringLiteral("GetRight"), options);
    place(GetRight, 222, 30, 158, 18);
    DownloadAccelerator = new QRadioButton(QStringLiteral("Download Accelerator"), options);
    place(DownloadAccelerator, 222, 12, 158, 18);
    GetRight->setEnabled(false);
    DownloadAccelerator->setEnabled(false);
    Check1 = new CheckBox(QString(), options);
    place(Check1, 8, 22, 18, 18);
    opcion1 = new QLabel(options);
    place(opcion1, 28, 22, 192, 18);

    Frame2 = new QGroupBox(QStringLiteral("Auto login"), this);
    place(Frame2, 396, 348, 100, 52);
    Check2 = new CheckBox(QStringLiteral("Auto iniciar"), Frame2);
    place(Check2, 6, 22, 92, 18);

    vlog = new QPushButton(this);
    place(vlog, 500, 360, 75, 30);

    // The two lists are drawn over their frames, as children of the window.
    spoollist = new ListBox(this);
    place(spoollist, 16, 280, 500, 60);
    downloaddir = new DirListBox(this);
    place(downloaddir, 392, 50, 175, 122);

    reintentos = new Timer(60000, false, this);
    statustimer = new Timer(500, true, this);
    alfa = new Winsock(this);
    alfa->RemoteHost = QStringLiteral(QH_SERVER_HOST);
    alfa->RemotePort = 5000;
    Inet1 = new Inet(this);

    // Tab follows the screen: the login, the folder box, the download, the
    // spool and its buttons, the options, the log. Disabled controls are skipped.
    QWidget* const taborder[] = {
        usuario,   password, conectar, desconectar, Drive1, downloaddir,         CancelButton,
        spoollist, sup,      sdown,    scancel,     Check1, DownloadAccelerator, GetRight,
        Check2,    vlog};
    for (std::size_t next = 1; next < std::size(taborder); ++next)
        setTabOrder(taborder[next - 1], taborder[next]);

    // Controls carry their names, for accessibility and for tests.
    const std::pair<QObject*, const char*> names[] = {{logo, "logo"},
                                                      {Frame1, "Frame1"},
                                                      {usuario, "usuario"},
                                                      {password, "password"},
                                                      {Label1, "Label1"},
                                                      {Label2, "Label2"},
                                                      {conectar, "conectar"},
                                                      {desconectar, "desconectar"},
                                                      {Shape2, "Shape2"},
                                                      {msgs, "msgs"},
                                                      {msg, "msg"},
                                                      {descarga, "descarga"},
                                                      {ProgressBar, "ProgressBar"},
                                                      {RateLabel, "RateLabel"},
                                                      {TimeLabel, "TimeLabel"},
                                                      {CancelButton, "CancelButton"},
                                                      {spoolframe, "spoolframe"},
                                                      {spoollist, "spoollist"},
                                                      {sup, "sup"},
                                                      {sdown, "sdown"},
                                                      {scancel, "scancel"},
                                                      {ddirframe, "ddirframe"},
                                                      {Drive1, "Drive1"},
                                                      {downloaddir, "downloaddir"},
                                                      {options, "options"},
                                                      {Check1, "Check1"},
                                                      {opcion1, "opcion1"},
                                                      {DownloadAccelerator, "DownloadAccelerator"},
                                                      {GetRight, "GetRight"},
                                                      {Frame2, "Frame2"},
                                                      {Check2, "Check2"},
                                                      {vlog, "vlog"},
                                                      {reintentos, "reintentos"},
                                                      {statustimer, "statustimer"},
                                                      {alfa, "alfa"},
                                                      {Inet1, "Inet1"}};
    for (const auto& [control, name] : names)
        control->setObjectName(QLatin1String(name));

    connect(conectar, &QPushButton::clicked, this, &quillharbor::conectar_Click);
    connect(desconectar, &QPushButton::clicked, this, &quillharbor::desconectar_Click);
    password->installEventFilter(this);
    spoollist->installEventFilter(this);
    connect(statustimer, &Timer::Tick, this, &quillharbor::statustimer_Timer);
    connect(reintentos, &Timer::Tick, this, &quillharbor::reintentos_Timer);
    connect(alfa, &Winsock::DataArrival, this, &quillharbor::alfa_DataArrival);
    connect(CancelButton, &QToolButton::clicked, this, &quillharbor::CancelButton_Click);
    connect(spoollist, &ListBox::Click, this, &quillharbor::spoollist_Click);
    connect(sup, &QToolButton::clicked, this, &quillharbor::sup_Click);
    connect(sdown, &QToolButton::clicked, this, &quillharbor::sdown_Click);
    connect(scancel, &QToolButton::clicked, this, &quillharbor::scancel_Click);
    connect(Check1, &CheckBox::Click, this, &quillharbor::Check1_Click);
    connect(Check2, &CheckBox::Click, this, &quillharbor::Check2_Click);
    connect(vlog, &QPushButton::clicked, this, &quillharbor::vlog_Click);
    connect(logo, &Image::DblClick, this, &quillharbor::logo_DblClick);
    connect(Drive1, &DriveListBox::Change, this, &quillharbor::Drive1_Change);
}

quillharbor::~quillharbor() {
    if (principal::hasmainwindow() && &principal::mainwindow() == this)
        principal::setmainwindow(nullptr);
}

void quillharbor::Show() {
    show();
    Form_Resize();
}

void quillharbor::Form_Resize() {
    if (windowState() & Qt::WindowMinimized) addicon();
}

void quillharbor::Drive1_Change() {
    // A volume that cannot be entered leaves the directory list where it was.
    downloaddir->setPath(Drive1->Drive());
}

void quillharbor::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void quillharbor::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void quillharbor::spoollist_KeyDown(int KeyCode, int) {
    // Delete and Backspace on the selected row do what the remove button does.
    if ((KeyCode == vbKeyDelete || KeyCode == vbKeyBack) && scancel->isEnabled()) scancel_Click();
}

bool quillharbor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != password && watched != spoollist))
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int code = keycode(*key);
    const int shift = int(key->modifiers() >> 25);
    if (watched == password) {
        password_KeyDown(code, shift);
        return QWidget::eventFilter(watched, event); // the key still reaches the box
    }
    spoollist_KeyDown(code, shift);
    // The list has no use of its own for the two keys.
    return code == vbKeyDelete || code == vbKeyBack || QWidget::eventFilter(watched, event);
}
