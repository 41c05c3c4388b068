#pragma once
#include "download/transfer.h"

#include <QString>

// The file a transfer writes: NAME.part beside NAME. It records the link it
// belongs to (without the link's secrets), the version of the file it
// holds and, when several connections fill it, the pieces still missing;
// it takes NAME's place only when whole.
namespace descargas {

// Names the server should not choose (see partial.cpp), and names too long
// to take the ".part" suffix.
bool refusedname(const QString& name);

// The name a link gives: the last segment of its path, percent-decoded,
// without the query and the fragment; "" when it names no file.
QString linkname(const QString& link);

// A link as the identity of its partial file: scheme, host, port and path,
// without credentials, query or fragment (so a link given again with a
// fresh token is the same file).
QByteArray originof(const QString& link);

// The file's name, and with it the paths of NAME and NAME.part.
void settarget(transfer& t, const QString& name);

// What a transfer finds at its two names before writing.
enum class found {
    nothing,    // no usable partial file: a fresh fetch from byte 0
    partial,    // NAME.part of this same link: ask for the rest
    notregular, // a directory at NAME, or anything but a regular file at NAME.part
};
// A partial file of this link is left open in t.file, with its pieces and
// version read; `size` is its size, -1 when there is none.
found lookat(transfer& t, qint64& size);

// A new NAME.part (a regular one of that name is deleted first), marked
// with the link's origin and the version begun. False, with the reason.
bool openfresh(transfer& t);

// The pieces still to fetch, kept with the partial file for the next
// start (every byte written before must be flushed); false when the file
// system cannot keep them.
bool recordpieces(transfer& t);

// NAME.part, synced, takes NAME's place, if it is still the file this
// transfer wrote; false, with the reason, otherwise.
bool savepart(transfer& t);

// Closes NAME.part and deletes it, if it is still the file this transfer
// wrote.
void discardpart(transfer& t);

} // namespace descargas
