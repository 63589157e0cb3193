#pragma once

#include <sys/types.h>

#include <string>

namespace quorin::calibrate {

// Writes the text beside `path` and renames it over, so that a reader
// (udev, a compositor) never reads half a file. Throws on failure.
void replaceFile(const std::string& path, const std::string& text, mode_t mode);

}  // namespace quorin::calibrate
