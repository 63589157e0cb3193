#include <iostream>
#include <string>
#include <vector>

#include "daemon/inherited_descriptors.h"
#include "daemon/instance_guard.h"
#include "daemon/options.h"
#include "daemon/run_daemon.h"

int main(int argc, char** argv)
{
    quorin::settleInheritedDescriptors();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const quorin::Options options = quorin::parseOptions(arguments);
    const int answered = quorin::answerInformationalOptions(options);
    if (answered >= 0)
        return answered;
    if (quorin::anotherInstanceRunning()) {
        std::cout << "Another instance already running. exiting." << std::endl;
        return 1;
    }
    return quorin::runDaemon(options);
}
