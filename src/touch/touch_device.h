#pragma once

#include <linux/uinput.h>

namespace quorin {

// The set-up record of "uinput-touch": every byte set, both axes 0..4095.
void fillDeviceSetup(uinput_user_dev& setup);

}  // namespace quorin
