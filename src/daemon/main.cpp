#include <iostream>

#include "daemon/inherited_descriptors.h"
#include "daemon/instance_guard.h"
#include "daemon/run_daemon.h"

int main()
{
    quorin::settleInheritedDescriptors();
    if (quorin::anotherInstanceRunning()) {
        std::cout << "Another instance already running. exiting." << std::endl;
        return 1;
    }
    return quorin::runDaemon("/dev/ttyS0");
}
