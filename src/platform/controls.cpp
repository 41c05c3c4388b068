#include "platform/controls.h"

#include "platform/inert.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStorageInfo>
#include <QStyledItemDelegate>
#include <QTimer>

namespace platform {

namespace {
// Rows added within this time of the last ones shown wait to be shown with
// the next.
constexpr qint64 burstms = 50;
} // namespace

QColor vbcolor(int value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Pause(int ms, const std::function<bool()>& giveup) {
    QTimer alarm;
    alarm.setSingleShot(true);
    alarm.start(ms);
    while (alarm.isActive() && !(giveup && giveup()))
        WaitEvents();
}

Timer::Timer(int intervalms, bool enabled, QObject* parent) : QObject(parent) {
    timer.setInterval(intervalms);
    // Qt never re-delivers a timer while its own handler runs; the program's
    // handlers yield (a download runs inside a status tick), and the ticks
    // must go on meanwhile. So each timeout only posts the tick, and the tick
    // runs from the event queue, where a nested yield can deliver the next.
    // A tick still queued when the timer is switched off is dropped: the
    // program expects a switched-off timer to stay silent.
    connect(&timer, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this, period = switchedoff] {
                if (period == switchedoff) emit Tick();
            },
            Qt::QueuedConnection);
    });
    setEnabled(enabled);
}

void Timer::setEnabled(bool enabled) {
    if (enabled && !timer.isActive()) {
        timer.start();
    } else if (!enabled) {
        timer.stop();
        ++switchedoff;
    }
}

void Timer::setInterval(int ms) {
    timer.setInterval(ms);
}

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {}

void TextBox::setText(const QString& text) {
    if (text == QLineEdit::text()) return;
    QLineEdit::setText(text);
    // What happened is said at the start ("Not saved NAME: reason"): a long
    // line shows its start, and the whole of it in the tooltip.
    setCursorPosition(0);
    setToolTip(text);
}

void TextBox::setForeColor(int value) {
    if (value == forecolor) return;
    forecolor = value;
    QPalette colours = palette();
    colours.setColor(QPalette::Text, vbcolor(value));
    setPalette(colours);
}

Shape::Shape(QWidget* parent) : QFrame(parent) {}

void Shape::setFillColor(int value) {
    if (fillcolor == value) return;
    fillcolor = value;
    update();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(Qt::black);
    painter.setBrush(vbcolor(fillcolor));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

CheckBox::CheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
    connect(this, &QCheckBox::toggled, this, &CheckBox::Click);
}

namespace {
// Rows show their texts inert and not overly long; the texts stay as they are.
class InertRows : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale&) const override {
        return inert(value.toString(), 1000);
    }
};
} // namespace

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new InertRows(this));
    // Every row added makes the view lay out all its rows again: rows that
    // come in a burst (thousands a second) are shown together, a few times a
    // second, and all rows have one size, so a long list costs little more
    // than a short one.
    setUniformItemSizes(true);
    showing.setSingleShot(true);
    connect(&showing, &QTimer::timeout, this, &ListBox::showpending);
    // Only the user's own selections count as clicks.
    connect(this, &QListWidget::itemPressed, this, [this] { emit Click(); });
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() >= 0 && currentRow() != before) emit Click();
}

QString ListBox::List(int index) const {
    if (index >= count() && index < ListCount()) return pending.at(index - count());
    const QListWidgetItem* entry = item(index);
    return entry ? entry->text() : QString();
}

bool ListBox::setList(int index, const QString& text) {
    showpending();
    QListWidgetItem* entry = item(index);
    if (!entry) return false;
    entry->setText(text);
    return true;
}

void ListBox::AddItem(const QString& text, int index) {
    if (index >= 0 && index < ListCount()) {
        showpending();
        insertItem(index, text);
        return;
    }
    pending.append(text);
    if (showing.isActive()) return;
    const qint64 since = sinceshown.isValid() ? sinceshown.elapsed() : burstms;
    if (since >= burstms)
        showpending();
    else
        showing.start(int(burstms - since));
}

void ListBox::showpending() {
    showing.stop();
    if (pending.isEmpty()) return;
    insertItems(count(), pending);
    pending.clear();
    sinceshown.restart();
}

bool ListBox::RemoveItem(int index) {
    showpending();
    if (index < 0 || index >= count()) return false;
    const bool selected = index == currentRow();
    delete takeItem(index);
    if (selected) setListIndex(-1);
    return true;
}

QStringList ListBox::items() const {
    QStringList all;
    all.reserve(ListCount());
    for (int row = 0; row < count(); ++row)
        all << item(row)->text();
    return all + pending;
}

void ListBox::setListIndex(int index) {
    showpending();
    if (index < 0 || index >= count()) {
        setCurrentRow(-1);
        clearSelection();
        return;
    }
    setCurrentRow(index);
}

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
    setPath(QDir::currentPath());
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* entry) {
        if (setPath(entry->data(Qt::UserRole).toString())) emit Change();
    });
}

bool DirListBox::setPath(const QString& folder) {
    if (folder.isEmpty()) return false;
    QFileInfo info(folder);
    if (!info.isDir()) return false;
    path = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
    Refresh();
    return true;
}

void DirListBox::Refresh() {
    clear();
    // The chain of folders down to the current one, then its sub-folders.
    QStringList chain;
    QDir walk(path);
    do {
        chain.prepend(walk.absolutePath());
    } while (walk.cdUp());
    int depth = 0;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? QDir::toNativeSeparators(folder) : QDir(folder).dirName();
        auto* entry = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        entry->setData(Qt::UserRole, folder);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QFileInfoList inside =
        QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& folder : inside) {
        auto* entry =
            new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + folder.fileName(), this);
        entry->setData(Qt::UserRole, folder.absoluteFilePath());
    }
}

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    Refresh();
    connect(this, &QComboBox::activated, this, &DriveListBox::Change);
}

QString DriveListBox::Drive() const {
    return currentData().toString();
}

void DriveListBox::Refresh() {
    clear();
    // The process's current volume first: that is what the list shows at start.
    const QString current = QStorageInfo(QDir::currentPath()).rootPath();
    addItem(QDir::toNativeSeparators(current), current);
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || volume.rootPath() == current) continue;
        addItem(QDir::toNativeSeparators(volume.rootPath()), volume.rootPath());
    }
}

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 10000);
    setTextVisible(false);
    QProgressBar::setValue(0);
}

bool ProgressBar::setMax(double value) {
    if (!(value > 0)) return false;
    maximumvalue = value;
    if (currentvalue > maximumvalue) currentvalue = maximumvalue;
    redraw();
    return true;
}

bool ProgressBar::setValue(double value) {
    if (value < 0 || value > maximumvalue) return false;
    currentvalue = value;
    redraw();
    return true;
}

void ProgressBar::redraw() {
    const int scaled = int(10000.0 * currentvalue / maximumvalue);
    if (scaled != QProgressBar::value()) QProgressBar::setValue(scaled);
}

PictureButton::PictureButton(const QString& picture, const QString& hint, QWidget* parent)
    : QToolButton(parent) {
    setIcon(QIcon(QPixmap(picture)));
    setToolTip(hint);
    setAccessibleName(hint); // what a screen reader says for the picture
    setAutoRaise(false);
}

Image::Image(const QString& picture, QWidget* parent) : QLabel(parent) {
    setPixmap(QPixmap(picture));
    setScaledContents(true);
}

void Image::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit DblClick();
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setStyleSheet(QStringLiteral("color: blue; background: transparent;"));
    setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
}

void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
}

} // namespace platform
