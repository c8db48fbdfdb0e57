#pragma once

#include <string>

// Text safe to print: control bytes and line breaks from a file or path become '?'.
std::string Printable(std::string text);
