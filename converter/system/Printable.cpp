#include "Printable.h"

std::string Printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7F')
            c = '?';
    return text;
}
