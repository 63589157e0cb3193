/* A reader of one evdev device, found by name, for the real-kernel tests
 * and the demo.
 *
 *   evdev_reader describe [NAME]   the device's identity, capabilities and
 *                                  current state (EVIOCGABS, EVIOCGKEY)
 *   evdev_reader watch [NAME]      "ready", then one line per report until
 *                                  the device goes away, then "gone"
 *
 * NAME defaults to "uinput-touch"; the device is waited for up to 10 s.
 * The input core drops an ABS or KEY event equal to the current value, so
 * a report line carries the whole state the reader tracks, not only the
 * events that arrived. Events are read in batches and each batch's lines
 * leave in one write: a reader that wrote per event to a slow console
 * would fall behind and lose events (SYN_DROPPED). For the same reason the
 * watcher asks for a real-time priority: the kernel keeps only 64 events
 * per reader, and the daemon decodes a whole read's records (a burst can
 * hold dozens) before it sleeps again, which on a single CPU would leave a
 * normal reader no chance to run in between.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define BITS_PER_LONG (8 * sizeof(unsigned long))
#define BIT_IS_SET(bits, n) (((bits)[(n) / BITS_PER_LONG] >> ((n) % BITS_PER_LONG)) & 1UL)

struct touch_state {
    int x, y, touch;
};

static int open_by_name(const char* wanted)
{
    DIR* dir = opendir("/dev/input");
    struct dirent* entry;
    int found = -1;
    while (dir && found < 0 && (entry = readdir(dir))) {
        char path[300], name[256] = "";
        if (strncmp(entry->d_name, "event", 5) != 0)
            continue;
        snprintf(path, sizeof path, "/dev/input/%s", entry->d_name);
        int fd = open(path, O_RDONLY);
        if (fd < 0)
            continue;
        if (ioctl(fd, EVIOCGNAME(sizeof name - 1), name) >= 0 && strcmp(name, wanted) == 0)
            found = fd;
        else
            close(fd);
    }
    if (dir)
        closedir(dir);
    return found;
}

static int wait_for_device(const char* name)
{
    const struct timespec pause = {0, 10 * 1000 * 1000};
    for (int tries = 0; tries < 1000; ++tries) {
        int fd = open_by_name(name);
        if (fd >= 0)
            return fd;
        nanosleep(&pause, NULL);
    }
    fprintf(stderr, "no input device named \"%s\"\n", name);
    exit(1);
}

static int read_state(int fd, struct touch_state* state)
{
    struct input_absinfo x, y;
    unsigned long keys[KEY_MAX / BITS_PER_LONG + 1] = {0};
    if (ioctl(fd, EVIOCGABS(ABS_X), &x) < 0 || ioctl(fd, EVIOCGABS(ABS_Y), &y) < 0 ||
        ioctl(fd, EVIOCGKEY(sizeof keys), keys) < 0)
        return -1;
    state->x = x.value;
    state->y = y.value;
    state->touch = (int)BIT_IS_SET(keys, BTN_TOUCH);
    return 0;
}

static void print_bits(int fd, unsigned type, unsigned max, const char* label)
{
    unsigned long bits[KEY_MAX / BITS_PER_LONG + 1] = {0};
    ioctl(fd, EVIOCGBIT(type, sizeof bits), bits);
    printf("%s", label);
    for (unsigned code = 0; code <= max; ++code)
        if (BIT_IS_SET(bits, code))
            printf(" %u", code);
    printf("\n");
}

static int describe(int fd)
{
    struct input_id id;
    struct touch_state state;
    char name[256] = "";
    unsigned long abs_bits[ABS_MAX / BITS_PER_LONG + 1] = {0};
    if (ioctl(fd, EVIOCGNAME(sizeof name - 1), name) < 0 || ioctl(fd, EVIOCGID, &id) < 0 ||
        ioctl(fd, EVIOCGBIT(EV_ABS, sizeof abs_bits), abs_bits) < 0 || read_state(fd, &state) < 0) {
        perror("evdev_reader: ioctl");
        return 1;
    }
    printf("name %s\nid bus=%u vendor=%04x product=%04x version=%u\n", name, id.bustype, id.vendor,
           id.product, id.version);
    print_bits(fd, 0, EV_MAX, "types");
    print_bits(fd, EV_KEY, KEY_MAX, "keys");
    for (unsigned axis = 0; axis <= ABS_MAX; ++axis) {
        struct input_absinfo info;
        if (BIT_IS_SET(abs_bits, axis) && ioctl(fd, EVIOCGABS(axis), &info) >= 0)
            printf("abs %u min=%d max=%d fuzz=%d flat=%d\n", axis, info.minimum, info.maximum,
                   info.fuzz, info.flat);
    }
    printf("state x=%d y=%d touch=%d\n", state.x, state.y, state.touch);
    return 0;
}

enum { CHANGED_X = 1, CHANGED_Y = 2, CHANGED_TOUCH = 4, RESYNCING = 8 };

/* Applies one event; appends a report line to out at each SYN_REPORT,
 * naming which parts of the state the report's events carried. After a
 * SYN_DROPPED the events up to the next SYN_REPORT are incomplete: they
 * are skipped and the state is read back from the device instead. */
static size_t apply_event(int fd, const struct input_event* event, struct touch_state* state,
                          int* changed, char* out, size_t used, size_t room)
{
    if (event->type == EV_SYN && event->code == SYN_DROPPED) {
        *changed = RESYNCING;
    } else if (*changed & RESYNCING) {
        if (event->type == EV_SYN && event->code == SYN_REPORT) {
            read_state(fd, state);
            used += (size_t)snprintf(out + used, room - used, "dropped, now x=%d y=%d touch=%d\n",
                                     state->x, state->y, state->touch);
            *changed = 0;
        }
    } else if (event->type == EV_ABS && event->code == ABS_X) {
        state->x = event->value;
        *changed |= CHANGED_X;
    } else if (event->type == EV_ABS && event->code == ABS_Y) {
        state->y = event->value;
        *changed |= CHANGED_Y;
    } else if (event->type == EV_KEY && event->code == BTN_TOUCH) {
        state->touch = event->value;
        *changed |= CHANGED_TOUCH;
    } else if (event->type == EV_SYN && event->code == SYN_REPORT) {
        used +=
            (size_t)snprintf(out + used, room - used, "report x=%d y=%d touch=%d events=%s%s%s\n",
                             state->x, state->y, state->touch, *changed & CHANGED_X ? "x" : "",
                             *changed & CHANGED_Y ? "y" : "", *changed & CHANGED_TOUCH ? "t" : "");
        *changed = 0;
    } else {
        used += (size_t)snprintf(out + used, room - used, "other type=%u code=%u value=%d\n",
                                 event->type, event->code, event->value);
    }
    return used;
}

static int watch(int fd)
{
    struct input_event events[64];
    static char out[64 * 80]; /* room for one line per event of a batch */
    struct touch_state state;
    int changed = 0;
    const struct sched_param priority = {.sched_priority = 10};
    if (sched_setscheduler(0, SCHED_FIFO, &priority) < 0)
        perror("evdev_reader: no real-time priority, reports may be dropped");
    if (read_state(fd, &state) < 0) {
        perror("evdev_reader: ioctl");
        return 1;
    }
    dprintf(STDOUT_FILENO, "ready x=%d y=%d touch=%d\n", state.x, state.y, state.touch);
    for (;;) {
        ssize_t got = read(fd, events, sizeof events);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            dprintf(STDOUT_FILENO, errno == ENODEV ? "gone\n" : "error %s\n", strerror(errno));
            return errno == ENODEV ? 0 : 1;
        }
        size_t used = 0;
        for (size_t i = 0; i < (size_t)got / sizeof events[0]; ++i)
            used = apply_event(fd, &events[i], &state, &changed, out, used, sizeof out);
        if (write(STDOUT_FILENO, out, used) < 0)
            return 1;
    }
}

int main(int argc, char** argv)
{
    const char* name = argc > 2 ? argv[2] : "uinput-touch";
    if (argc < 2 || (strcmp(argv[1], "describe") != 0 && strcmp(argv[1], "watch") != 0)) {
        fprintf(stderr, "usage: evdev_reader describe|watch [NAME]\n");
        return 2;
    }
    int fd = wait_for_device(name);
    return strcmp(argv[1], "describe") == 0 ? describe(fd) : watch(fd);
}
