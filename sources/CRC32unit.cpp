#include "CRC32unit.h"

#include <array>

namespace {

constexpr std::array<quint32, 256> MakeTable()
{
    std::array<quint32, 256> Table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 C = i;
        for (int k = 0; k < 8; ++k)
            C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
        Table[i] = C;
    }
    return Table;
}

constexpr std::array<quint32, 256> Table = MakeTable();

} // namespace

quint32 CRC32(QByteArrayView Data)
{
    quint32 Register = 0;
    for (const char B : Data)
        Register = Table[(Register ^ quint8(B)) & 0xFF] ^ (Register >> 8);
    return Register;
}
