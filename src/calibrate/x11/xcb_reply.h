#pragma once

#include <cstdlib>
#include <memory>

namespace quorin::calibrate {

// An xcb reply, freed with free() as xcb wants.
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> ReplyPtr<Reply> owned(Reply* reply)
{
    return ReplyPtr<Reply>(reply, &std::free);
}

}  // namespace quorin::calibrate
