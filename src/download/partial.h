#pragma once
#include "platform/rawfile.h"

#include <QString>

// The file a transfer writes: NAME.part beside NAME, which records the link
// it belongs to and takes NAME's place only when whole.
namespace descargas {

// Names the server should not choose (see partial.cpp), and names too long
// to take the ".part" suffix.
bool refusedname(const QString& name);

QString partname(const QString& target);

// What a transfer finds at its two names before any request.
enum class found {
    nothing,    // no usable partial file: a fresh fetch from byte 0
    partial,    // NAME.part of this same link: ask for the rest
    notregular, // a directory at NAME, or anything but a regular file at NAME.part
};
// `size` is the partial file's size, -1 when there is none.
found lookat(const QString& target, const QString& link, qint64& size);

// Opens a new NAME.part for `link` (a regular one of that name is deleted
// first), marked with the link it belongs to.
platform::RawFile::Opened openfresh(platform::RawFile& part, const QString& path,
                                    const QString& link);

// Flushed NAME.part takes NAME's place; false when it could not.
bool savepart(const QString& target);

// Deletes NAME.part when it is a regular file.
void discardpart(const QString& target);

} // namespace descargas
