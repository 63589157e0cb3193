#include "serial/controller_command.h"

namespace quorin {

void setCommandLevel(unsigned char* command, int level)
{
    static const char digits[] = "0123456789ABCDEF";
    command[2] = static_cast<unsigned char>(digits[(level >> 4) & 0xF]);
    command[3] = static_cast<unsigned char>(digits[level & 0xF]);
}

}  // namespace quorin
