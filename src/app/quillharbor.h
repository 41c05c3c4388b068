#pragma once
#include "platform/controls.h"

#include <QWidget>

namespace platform {
class Winsock;
class Inet;
} // namespace platform

// The main window: it owns every control, the server socket `alfa`, the HTTP
// client `Inet1`, both timers and the spool list. Its reactions are named
// control_Event and are spread over the files of the subsystem they serve.
class quillharbor : public QWidget {
    Q_OBJECT
  public:
    quillharbor();
    ~quillharbor() override;

    // Controls, by container.
    platform::Image* logo;
    QGroupBox* Frame1;
    QLineEdit* usuario;
    QLineEdit* password;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* conectar;
    QPushButton* desconectar;
    platform::Shape* Shape2;
    QGroupBox* msgs;
    platform::TextBox* msg;
    QGroupBox* descarga;
    platform::ProgressBar* ProgressBar;
    QLabel* RateLabel;
    QLabel* TimeLabel;
    platform::PictureButton* CancelButton;
    QGroupBox* spoolframe;
    platform::ListBox* spoollist;
    platform::PictureButton* sup;
    platform::PictureButton* sdown;
    platform::PictureButton* scancel;
    QGroupBox* ddirframe;
    platform::DriveListBox* Drive1;
    platform::DirListBox* downloaddir;
    QGroupBox* options;
    platform::CheckBox* Check1;
    QLabel* opcion1;
    QRadioButton* DownloadAccelerator;
    QRadioButton* GetRight;
    QGroupBox* Frame2;
    platform::CheckBox* Check2;
    QPushButton* vlog;
    platform::Timer* reintentos;
    platform::Timer* statustimer;
    platform::Winsock* alfa;
    platform::Inet* Inet1;

    // A built-in transfer is running; a request to stop it.
    bool bajando = false;
    bool CancelSearch = false;

    // Shows the window; its first display runs Form_Resize, as a resize does.
    void Show();

    // Application shell (app/).
    void Form_Resize();
    void Form_Unload();
    void Drive1_Change();

    // Server connection (connection/).
    void conectar_Click();
    void desconectar_Click();
    void password_KeyDown(int KeyCode, int Shift);
    void statustimer_Timer();
    void statuspoll(platform::Winsock& socket);
    void reintentos_Timer();
    void alfa_DataArrival(qint64 bytesTotal);

    // Built-in downloader (download/).
    void CancelButton_Click();

    // Spool (queue/).
    void spoollist_Click();
    void sup_Click();
    void sdown_Click();
    void scancel_Click();
    void spoollist_KeyDown(int KeyCode, int Shift);

    // System integration and tray (system/).
    void Check1_Click();
    void Check2_Click();
    void addicon();
    void deleteicon();

    // Secondary windows (log/, windows/).
    void vlog_Click();
    void logo_DblClick();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
