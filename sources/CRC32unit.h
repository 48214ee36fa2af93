#pragma once

#include <QByteArrayView>

// The page checksum of the change monitor: the reflected CRC-32 table (polynomial 0xEDB88320),
// register starting at 0 and no final inversion. "abc" gives 0xCA6598D0; an empty text 0.
// Not the standard CRC-32: stored checksums and traces rely on this exact variant.
quint32 CRC32(QByteArrayView Data);
