#include "windows/createuser.h"

namespace createuser {

namespace {
platform::OneWindow<noticewindow> window;

noticewindow* make() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(9.75);
    return new noticewindow({.title = 125,
                             .message = 124,
                             .size = {420, 190},
                             .frame = {10, 10, 400, 100},
                             .text = {18, 16, 384, 88},
                             .link = {10, 118, 400, 22},
                             .button = {260, 150, 150, 28},
                             .font = font,
                             .centred = false});
}
} // namespace

void Show() {
    window.Show(make);
}

noticewindow* instance() {
    return window.instance();
}

} // namespace createuser
