// The progress display's texts: sizes, times, path parts and digit masks
// from any numbers and any texts; any bytes read as text and written back
// are the same bytes; and any bytes shown or logged are inert.
#include "download/descargas.h"
#include "download/formatmask.h"
#include "platform/inert.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

using namespace descargas;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The masks use the system's decimal separator.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (platform::encodetext(platform::decodetext(bytes)) != bytes) std::abort();
    // What is shown or logged of outside text holds nothing that acts on a
    // terminal or turns the text around, and keeps to its length.
    const QString shown = platform::inert(platform::phrasetext(bytes), 60);
    const QString logged = platform::inertlink(platform::decodetext(bytes));
    if (shown.size() > 60 || std::any_of(shown.begin(), shown.end(), platform::misleading) ||
        std::any_of(logged.begin(), logged.end(), platform::misleading) ||
        platform::encodetext(logged) != logged.toUtf8())
        std::abort();
    FuzzedDataProvider input(data, size);
    const double value = input.ConsumeFloatingPoint<double>();
    const float seconds = input.ConsumeFloatingPoint<float>();
    const bool url = input.ConsumeBool();
    const QString mask = QString::fromStdString(input.ConsumeRandomLengthString(64));
    const QString path = QString::fromStdString(input.ConsumeRemainingBytesAsString());

    formatmask(value, mask);
    sizetext(value, mask);
    sizetext(value);
    // Every time that is a number has a text.
    if (timetext(seconds).isEmpty() != std::isnan(seconds)) std::abort();
    // A path with a separator is its folder part followed by its last segment.
    const QString folder = pathpart(path, false, url);
    const QString last = pathpart(path, true, url);
    if (folder != path && folder + last != path) std::abort();
    return 0;
}
