#pragma once
#include "platform/controls.h"

#include <QWidget>

// A small window that tells the user one thing in red, framed, with the
// product website as a link below it and a button that closes it. The
// update-required and the create-user windows are two uses of it.
class noticewindow : public QWidget {
    Q_OBJECT
  public:
    // Where the controls stand and what they say; texts are string ids.
    struct Layout {
        int title, message;
        QSize size;
        QRect frame, text, link, button;
        QFont font;
        bool centred;
    };

    explicit noticewindow(const Layout& layout);

    QPushButton* closewin;
    QLabel* msg; // the message, red
    QFrame* Shape1;
    platform::LinkLabel* Label1;

    void Form_Load();
    void Label1_Click();
    void closewin_Click();

  private:
    Layout layout;
};
