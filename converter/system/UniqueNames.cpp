#include "UniqueNames.h"

std::string UniqueNames::Make(const std::string& stem, const std::string& extension)
{
    std::string name = stem + extension;
    unsigned& next = nextSuffix[stem + '\0' + extension];
    if (next == 0) {
        next = 2;
        if (Take(name))
            return name;
    }
    do
        name = stem + "_" + std::to_string(next++) + extension;
    while (!Take(name));
    return name;
}

std::string SafeName(const std::string& name, const char* fallback)
{
    std::string safe = name.empty() ? fallback : name;
    for (char& c : safe)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F' || c == '#' || c == '\\')
            c = '_';
    return safe;
}
