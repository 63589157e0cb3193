#pragma once

namespace quorin {

// The very first thing the process does: descriptors 0, 1 and 2 are made
// open (on /dev/null where the starter left them closed) and every other
// descriptor inherited from the starter is closed.
void settleInheritedDescriptors();

}  // namespace quorin
