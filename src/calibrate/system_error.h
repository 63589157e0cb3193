#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace quorin::calibrate {

// A failed system call, for the one handler in main: "what: reason".
[[noreturn]] inline void throwErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// A result of -1 (or any negative one) from a call that sets errno.
inline int checked(int result, const std::string& what)
{
    if (result < 0)
        throwErrno(what);
    return result;
}

// A failure that is not a system call's, with its own message.
struct CalibrationFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace quorin::calibrate
