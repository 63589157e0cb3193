#include "touch/touch_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"

namespace quorin {

namespace {

struct DeviceStep {
    unsigned long request;
    int argument;
    const char* failure;
};

// The capabilities, in the order they are announced.
constexpr DeviceStep kCapabilitySteps[] = {
    {UI_SET_EVBIT, EV_KEY, "error: ioctl EV_KEY"},
    {UI_SET_KEYBIT, BTN_TOUCH, "error: ioctl BTN_TOUCH"},
    {UI_SET_EVBIT, EV_ABS, "error: ioctl EV_ABS"},
    {UI_SET_ABSBIT, ABS_X, "error: ioctl ABS_X"},
    {UI_SET_ABSBIT, ABS_Y, "error: ioctl ABS_Y"},
    {UI_SET_EVBIT, EV_SYN, "error: ioctl EV_SYN"},
};

[[noreturn]] void failStep(const char* message)
{
    std::perror(message);
    endProcess(1);
}

}  // namespace

void fillDeviceSetup(uinput_user_dev& setup)
{
    std::memset(&setup, 0, sizeof setup);
    std::strncpy(setup.name, "uinput-touch", UINPUT_MAX_NAME_SIZE);
    setup.id.bustype = BUS_USB;
    setup.id.vendor = 0x1234;
    setup.id.product = 0xFEDC;
    setup.id.version = 1;
    setup.absmax[ABS_X] = kAxisMax;
    setup.absmax[ABS_Y] = kAxisMax;
}

// Any failure ends the process with status 1 while it still has the
// terminal's streams; nothing is cleaned up.
void QuorinDaemon::setupTouchDevice()
{
    uinputFd = open("/dev/uinput", O_WRONLY | O_NONBLOCK);
    if (uinputFd < 0) {
        std::cout << "Can't open /dev/uinput. Check if file exists and is writeable. "
                     "uinput must be started (modprobe uinput)"
                  << std::endl;
        endProcess(1);
    }
    for (const DeviceStep& step : kCapabilitySteps) {
        if (ioctl(uinputFd, step.request, step.argument) < 0)
            failStep(step.failure);
    }
    fillDeviceSetup(deviceSetup);
    if (write(uinputFd, &deviceSetup, sizeof deviceSetup) < 0)
        failStep("error: uidev");
    if (ioctl(uinputFd, UI_DEV_CREATE) < 0)
        failStep("error: UI_DEV_CREATE");
}

// One write per event, in batch order. A refused write leaves the device
// out of step with the panel: end with status 1.
void QuorinDaemon::writeTouchEventBatch(const TouchEventBatch& batch)
{
    for (const input_event& event : batch) {
        if (write(uinputFd, &event, sizeof event) < 0)
            failStep("error: write");
    }
}

}  // namespace quorin
