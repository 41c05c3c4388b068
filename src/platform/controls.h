#pragma once
// The window's controls, each with the few properties the program reads and
// writes, in the program's own terms: colour values 0x00BBGGRR, tick values
// 0/1, list indexes with -1 for "none", timers with an Enabled switch. The
// reactions can then say what they do without Qt's vocabulary in the way.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <functional>

namespace platform {

// Colour values as the program stores them: 0x00BBGGRR.
constexpr int vbRed = 255;
constexpr int vbGreen = 65280;
constexpr int vbBlack = 0;
QColor vbcolor(int value);

// Lets queued events run once (timer ticks, socket events, clicks).
void DoEvents();
// Lets events run once something has happened: a socket or a timer fired,
// or the user did something. Never spins.
void WaitEvents();
// Lets events run for `ms`, or until `giveup` turns true.
void Pause(int ms, const std::function<bool()>& giveup);

// A timer with an Enabled switch: enabling a running timer keeps its
// schedule; once switched off, no tick comes until it is switched on again.
class Timer : public QObject {
    Q_OBJECT
  public:
    Timer(int intervalms, bool enabled, QObject* parent);
    bool Enabled() const { return timer.isActive(); }
    void setEnabled(bool enabled);
    int Interval() const { return timer.interval(); }
    void setInterval(int ms); // a running timer restarts with the new interval
  signals:
    void Tick();

  private:
    QTimer timer;
    quint64 switchedoff = 0; // times switched off: ticks posted before are void
};

// One-line text box whose text colour is a colour value. Writing the text
// or colour it already has changes nothing, and costs no redrawing. A long
// text shows its start, and the whole of it in the tooltip.
class TextBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit TextBox(QWidget* parent);
    int ForeColor() const { return forecolor; }
    void setForeColor(int value);
    void setText(const QString& text);

  private:
    int forecolor = vbBlack;
};

// A filled rectangle (the connection indicator).
class Shape : public QFrame {
    Q_OBJECT
  public:
    explicit Shape(QWidget* parent);
    int FillColor() const { return fillcolor; }
    void setFillColor(int value);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int fillcolor = vbRed;
};

// A check box holding 0 or 1. Click() follows every change of the value,
// whether the user clicked or the program set it, as the program expects.
class CheckBox : public QCheckBox {
    Q_OBJECT
  public:
    CheckBox(const QString& caption, QWidget* parent);
    int Value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value != 0); }
  signals:
    void Click();
};

// A single-selection list of texts, each shown inert; ListIndex is -1 when
// no row is selected.
class ListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit ListBox(QWidget* parent);
    int ListCount() const { return count() + int(pending.size()); }
    QString List(int index) const; // "" for an index out of range
    bool setList(int index, const QString& text);
    // At the end, or as row `index` when that is a row.
    void AddItem(const QString& text, int index = -1);
    bool RemoveItem(int index);
    QStringList items() const;
    int ListIndex() const { return currentRow(); }
    void setListIndex(int index); // -1 clears the selection
  signals:
    void Click(); // the user selected a row

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showpending();

    // Rows added at the end in a burst and not shown yet.
    QStringList pending;
    QTimer showing;
    QElapsedTimer sinceshown;
};

// A directory list: shows the path's folders and the folders inside it;
// activating one moves there.
class DirListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit DirListBox(QWidget* parent);
    QString Path() const { return path; }
    // Moves to `folder`; false (and no change) when it is not an existing folder.
    bool setPath(const QString& folder);
    void Refresh();
  signals:
    void Change();

  private:
    QString path;
};

// The volumes (drives on Windows) the directory list can move to.
class DriveListBox : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveListBox(QWidget* parent);
    QString Drive() const; // root path of the chosen volume
    void Refresh();
  signals:
    void Change(); // the user chose another volume
};

// A progress bar whose maximum and value are byte counts of any size; the
// bar itself works in a fixed range and scales. A value above the maximum is
// refused (false): the downloader takes that as a body longer than announced.
class ProgressBar : public QProgressBar {
    Q_OBJECT
  public:
    explicit ProgressBar(QWidget* parent);
    double Max() const { return maximumvalue; }
    bool setMax(double value);
    double Value() const { return currentvalue; }
    bool setValue(double value);

  private:
    void redraw();
    double maximumvalue = 100;
    double currentvalue = 0;
};

// A button that shows a picture instead of a caption; the hint is its
// tooltip and its accessible name.
class PictureButton : public QToolButton {
    Q_OBJECT
  public:
    PictureButton(const QString& picture, const QString& hint, QWidget* parent);
};

// An image that reports double-clicks.
class Image : public QLabel {
    Q_OBJECT
  public:
    Image(const QString& picture, QWidget* parent);
  signals:
    void DblClick();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A label styled as a web link: blue, pointing-hand cursor, Click on release.
class LinkLabel : public QLabel {
    Q_OBJECT
  public:
    LinkLabel(const QString& text, QWidget* parent);
  signals:
    void Click();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Positions a widget in pixels inside its parent (the windows have fixed layouts).
void place(QWidget* widget, int left, int top, int width, int height);

// The one window of a kind the program keeps: made when first shown, gone
// when it is closed (the window deletes itself on close).
template <typename Window> class OneWindow {
  public:
    Window* instance() const { return window; }

    // Shows the window modeless and brings it forward, first making it with
    // `make` and then loading it with `load` when there is none. The window
    // is the one from the moment it is made, so an event served while it
    // loads finds it instead of making another.
    template <typename Make> void Show(Make make, void (Window::*load)() = nullptr) {
        if (!window) {
            window = make();
            if (window && load) (window->*load)();
        }
        if (!window) return;
        window->show();
        window->raise();
        window->activateWindow();
    }

    // For a window shown some other way (modal): it is the one until it ends.
    void set(Window* shown) { window = shown; }

  private:
    QPointer<Window> window;
};

} // namespace platform
