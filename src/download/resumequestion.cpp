#include "download/resumequestion.h"

#include "app/principal.h"
#include "app/quillharbor.h"

#include <QMessageBox>

namespace descargas {

namespace {
std::function<bool(const QString&, const QString&)> answeredahead;
}

bool askuser(const QString& title, const QString& text) {
    if (answeredahead) return answeredahead(title, text);
    QWidget* owner = principal::hasmainwindow() ? &principal::mainwindow() : nullptr;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

void setanswerer(std::function<bool(const QString&, const QString&)> answerer) {
    answeredahead = std::move(answerer);
}

} // namespace descargas
