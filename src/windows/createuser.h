#pragma once
#include "platform/controls.h"

#include <QWidget>

// Tells a new user to create an account on the product website first.
class createuser : public QWidget {
    Q_OBJECT
  public:
    // Shows the one window, modeless, creating it when needed.
    static void Show();
    // The open window, or nullptr.
    static createuser* instance();

    QPushButton* closewin;
    QLabel* Label2;
    QFrame* Shape1;
    platform::LinkLabel* Label1;

    void Form_Load();
    void Label1_Click();
    void closewin_Click();

  private:
    createuser();
};
