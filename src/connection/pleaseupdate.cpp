#include "connection/pleaseupdate.h"

namespace pleaseupdate {

namespace {
platform::OneWindow<noticewindow> window;

noticewindow* make() {
    QFont font;
    font.setBold(true);
    font.setPointSizeF(11);
    return new noticewindow({.title = 105,
                             .message = 120,
                             .size = {360, 150},
                             .frame = {10, 10, 340, 60},
                             .text = {16, 16, 328, 48},
                             .link = {10, 78, 340, 22},
                             .button = {105, 110, 150, 28},
                             .font = font,
                             .centred = true});
}
} // namespace

void Show() {
    window.Show(make);
}

noticewindow* instance() {
    return window.instance();
}

} // namespace pleaseupdate
