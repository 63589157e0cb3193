#include "daemon/failure.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "serial/serial_line_error.h"

namespace quorin {

void reportException(const std::exception& error)
{
    syslog(LOG_USER | LOG_ERR, "Exception: %s", error.what());
    std::cerr << "Exception: " << error.what() << std::endl;
    if (const auto* line = dynamic_cast<const SerialLineError*>(&error)) {
        syslog(LOG_USER | LOG_ERR, "%s", line->explanation().c_str());
        std::cerr << line->explanation() << std::endl;
    }
}

void endProcess(int status)
{
    std::cout.flush();
    std::cerr.flush();
    (void)std::fflush(nullptr);  // nothing left to do about a failure
    _exit(status);
}

}  // namespace quorin
