#pragma once
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The log viewer: shows log.txt as it was when the window opened or was last
// cleared, and clears it on request.
class logs : public QWidget {
    Q_OBJECT
  public:
    // Shows the one window, modeless and without an owner; a window already
    // open is brought forward as it is, without reading the file again.
    static void Show();
    // The open window, or nullptr.
    static logs* instance();

    QPlainTextEdit* logfile;
    QPushButton* dellog;
    QPushButton* closewin;

    void Form_Load();
    void dellog_Click();
    void closewin_Click();

  private:
    logs();
};
