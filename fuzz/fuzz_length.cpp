// The Content-Length reading: any text gives a count that is 0 or exactly
// the value of the plain decimal digits it holds, or of each of its
// comma-separated parts when they are all the same.
#include "platform/httpanswer.h"

#include <QStringList>
#include <charconv>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromLatin1(bytes);
    const qint64 length = platform::lengthvalue(bytes);
    if (length < 0) std::abort();
    if (length == 0) return 0;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const std::string digits = part.trimmed().toStdString();
        qint64 expected = -1;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), expected);
        if (error != std::errc() || end != digits.data() + digits.size() || expected != length)
            std::abort();
    }
    return 0;
}
