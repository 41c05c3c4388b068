#pragma once
#include <QDialog>

class QLabel;
class QPushButton;
namespace platform {
class LinkLabel;
}

// The About window: the version, the outside component's line, a picture of
// the product and the website address.
class AcercaDe : public QDialog {
    Q_OBJECT
  public:
    // Shows the window modal to the whole program and returns once it is closed.
    static void Show();
    // The open window, or nullptr.
    static AcercaDe* instance();

    QPushButton* Command1;
    QLabel* Label3;
    QLabel* Label2;
    platform::LinkLabel* Label1;
    QLabel* Image1;

    void Form_Load();
    void Label1_Click();
    void Command1_Click();

    // "QHB " major "." minor " Rev. " revision.
    static QString versionline(int major, int minor, int revision);

  private:
    AcercaDe();
};
