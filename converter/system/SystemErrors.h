#pragma once

// System errors in the user's words.

#include <filesystem>
#include <string>

// What went wrong, in plain words, for a system error number.
std::string ErrorReason(int error);
// A std::filesystem error as "PATH: reason", without the library's wording.
std::string Describe(const std::filesystem::filesystem_error& error);
