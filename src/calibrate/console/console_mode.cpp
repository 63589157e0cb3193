#include "calibrate/console/console_mode.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <system_error>

namespace quorin::calibrate {

namespace {

bool consoleMode(int fd, int& mode)
{
    return ioctl(fd, KDGETMODE, &mode) == 0;
}

void warn(const char* what, int error)
{
    std::cerr << "quorin-calibrate: " << what << ": " << std::generic_category().message(error)
              << "; the console may show through the targets" << std::endl;
}

}  // namespace

ConsoleGraphicsMode::ConsoleGraphicsMode()
{
    if (consoleMode(STDIN_FILENO, previousMode))
        fd = STDIN_FILENO;
    else {
        fd = open("/dev/tty0", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            warn("cannot open /dev/tty0", errno);
            return;
        }
        opened = true;
        if (!consoleMode(fd, previousMode)) {
            warn("KDGETMODE on /dev/tty0", errno);
            close(fd);
            fd = -1;
            return;
        }
    }
    if (ioctl(fd, KDSETMODE, KD_GRAPHICS) < 0)
        warn("cannot put the console in graphics mode", errno);
}

ConsoleGraphicsMode::~ConsoleGraphicsMode()
{
    if (fd < 0)
        return;
    if (ioctl(fd, KDSETMODE, previousMode) < 0)
        warn("cannot put the console's mode back", errno);
    if (opened)
        close(fd);
}

}  // namespace quorin::calibrate
