#pragma once

#include <QByteArray>

// ICO files from outside (the icon folder, a downloaded favourite icon, the built-in set) are checked
// here before any decoder sees them.

// The 6-byte header is there and its type field is 0 or 1 (a cursor, type 2, is refused).
bool HasIconHeader(const QByteArray &Data);

// The header is acceptable and every directory entry points at bytes inside the file.
bool IsWellFormedIconFile(const QByteArray &Data);
