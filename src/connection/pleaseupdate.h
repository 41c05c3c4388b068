#pragma once
#include "platform/controls.h"

#include <QWidget>

// Tells the user that the server expects another version of the agent.
class pleaseupdate : public QWidget {
    Q_OBJECT
  public:
    // Shows the one window, modeless, creating it when needed; an open
    // window is brought forward.
    static void Show();
    // The open window, or nullptr.
    static pleaseupdate* instance();

    platform::LinkLabel* Label1;
    QLabel* msg;
    QPushButton* closewin;
    QFrame* Shape1;

    void Form_Load();
    void Label1_Click();
    void closewin_Click();

  private:
    pleaseupdate();
};
