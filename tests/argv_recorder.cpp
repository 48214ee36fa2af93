// Stands in for the program behind a desktop entry: writes the arguments it was started with, each
// followed by a NUL byte, to the file named by KESTRUNE_ARGV_FILE (whole, or not at all).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char *argv[])
{
    const char *Target = std::getenv("KESTRUNE_ARGV_FILE");
    if (!Target)
        return 2;
    const std::string Partial = std::string(Target) + ".part";
    std::FILE *File = std::fopen(Partial.c_str(), "wb");
    if (!File)
        return 3;
    for (int i = 1; i < argc; ++i)
        std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, File);
    if (std::fclose(File) != 0)
        return 4;
    return std::rename(Partial.c_str(), Target) == 0 ? 0 : 5;
}
