#pragma once

#include <cstddef>

namespace quorin {

// The daemon's text buffers: a NUL-terminated string of at most
// kTextMax characters in kTextBufferSize bytes.
constexpr std::size_t kTextBufferSize = 512;
constexpr std::size_t kTextMax = kTextBufferSize - 1;

}  // namespace quorin
