#include "daemon/failure.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace quorin {

void reportException(const std::exception& error)
{
    syslog(LOG_USER | LOG_ERR, "Exception: %s", error.what());
    std::cerr << "Exception: " << error.what() << std::endl;
}

void endProcess(int status)
{
    std::cout.flush();
    std::cerr.flush();
    (void)std::fflush(nullptr);  // nothing left to do about a failure
    _exit(status);
}

}  // namespace quorin
