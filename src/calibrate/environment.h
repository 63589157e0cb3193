#pragma once

#include <cstdlib>
#include <string>

namespace quorin::calibrate {

// An environment variable's value, empty when it is not set.
inline std::string environmentValue(const char* name)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program has one thread
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace quorin::calibrate
