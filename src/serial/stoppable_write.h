#pragma once

#include <cstddef>

namespace quorin {

// Writes all `size` bytes to `fd`, a non-blocking descriptor, as
// boost::asio::write does, and throws the same "write: ..." system_error
// when the line fails. While the line takes nothing (flow control holds
// it) it waits on both `fd` and `stopFd`, and gives up as soon as
// `stopFd` is readable. Returns false when it gave up.
bool writeUnlessStopped(int fd, const unsigned char* bytes, std::size_t size, int stopFd);

// Sets O_NONBLOCK, as writeUnlessStopped needs; throws "fcntl: ..." on
// failure.
void makeNonBlocking(int fd);

}  // namespace quorin
