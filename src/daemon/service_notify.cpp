#include "daemon/service_notify.h"

#ifdef QUORIN_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace quorin {

// A lost notification is not worth failing for: systemd then times the
// start out or escalates the stop on its own.
void notifyServiceManager(const char* state)
{
#ifdef QUORIN_HAVE_SYSTEMD
    (void)sd_notify(0, state);
#else
    (void)state;
#endif
}

}  // namespace quorin
