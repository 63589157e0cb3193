#pragma once

#include <cstddef>
#include <string>

namespace quorin {

// Reads at most `most` bytes from the start of the file at `path` into
// `text`: a sysfs attribute or a small state file. Neither a link nor a
// FIFO put there is followed or waited for. False with errno set when it
// cannot be read.
bool readShortFile(const std::string& path, std::size_t most, std::string& text);

}  // namespace quorin
