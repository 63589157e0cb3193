#include "touch/touch_event_batch.h"

namespace quorin {

namespace {

input_event makeEvent(int type, int code, int value)
{
    input_event event = {};
    event.type = static_cast<__u16>(type);
    event.code = static_cast<__u16>(code);
    event.value = value;
    return event;
}

}  // namespace

TouchEventBatch makeTouchEventBatch(int x, int y, bool touched)
{
    return {makeEvent(EV_ABS, ABS_X, x), makeEvent(EV_ABS, ABS_Y, y),
            makeEvent(EV_KEY, BTN_TOUCH, touched ? 1 : 0), makeEvent(EV_SYN, SYN_REPORT, 0)};
}

}  // namespace quorin
