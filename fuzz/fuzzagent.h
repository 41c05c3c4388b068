#pragma once
// What the fuzz targets that drive the agent share: a Qt application on the
// offscreen platform, the real main window, and a program folder, home and
// configuration folders of their own in a temporary folder, so that nothing
// outside it is read or written.
#include <QString>
#include <cstddef>
#include <cstdint>

class quillharbor;

namespace fuzzagent {

// Sets everything up; the first call only does anything.
void start();

// The main window (hidden until a target shows it).
quillharbor& window();

// Replaces a file of the program folder with these bytes.
void write(const QString& name, const uint8_t* data, size_t size);

// Removes a file of the program folder.
void remove(const QString& name);

} // namespace fuzzagent
