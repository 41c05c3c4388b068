#include "download/resumequestion.h"

#include "app/principal.h"
#include "app/quillharbor.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

namespace descargas {

namespace {
std::function<bool(const QString&, const QString&)> answeredahead;
int answerwaitms = 120000;

// "Yes (1:59)": the button's own text and the time left.
QString withtimeleft(const QString& caption, qint64 ms) {
    const qint64 seconds = (ms + 999) / 1000;
    return caption +
           QStringLiteral(" (%1:%2)").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

bool askuser(const QString& title, const QString& text) {
    if (answeredahead) return answeredahead(title, text);
    QWidget* owner = principal::hasmainwindow() ? &principal::mainwindow() : nullptr;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowModality(Qt::ApplicationModal);
    QAbstractButton* yes = box.button(QMessageBox::Yes);
    const QString caption = yes->text();
    const QDeadlineTimer deadline(answerwaitms);
    QTimer countdown;
    QObject::connect(&countdown, &QTimer::timeout, &box, [&] {
        if (deadline.hasExpired()) return yes->click();
        yes->setText(withtimeleft(caption, deadline.remainingTime()));
    });
    yes->setText(withtimeleft(caption, answerwaitms));
    countdown.start(qMin(1000, qMax(answerwaitms / 4, 10)));
    return box.exec() == QMessageBox::Yes;
}

void setanswerwait(int ms) {
    answerwaitms = ms;
}

void setanswerer(std::function<bool(const QString&, const QString&)> answerer) {
    answeredahead = std::move(answerer);
}

} // namespace descargas
