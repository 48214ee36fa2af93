#include "KestruneVersion.h"

#include <cstdio>

int main()
{
    std::printf("Kestrune %s: the site manager window is not built yet.\n", KESTRUNE_VERSION_STRING);
    return 0;
}
