#include "download/descargas.h"

#include "app/quillharbor.h"

namespace descargas {

void httpdownload(const QString&, const QString&, const QString&, const QString&) {}
QString sizetext(double, const QString&) { return QString(); }
QString timetext(float) { return QString(); }
QString pathpart(const QString& path, bool, bool) { return path; }

} // namespace descargas

void quillharbor::CancelButton_Click() { CancelSearch = true; }
