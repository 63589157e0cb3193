/*
 * Preloadable stand-in for /dev/uinput, for hosts whose kernel has none.
 *
 * It answers open, ioctl, write and close on "/dev/uinput" as the kernel's
 * legacy interface does: capability ioctls and one whole set-up record
 * before UI_DEV_CREATE, whole input_event records after it, EINVAL for
 * anything out of that order. Every call is appended as one text line to
 * the file named by QUORIN_STUB_LOG, events with their CLOCK_MONOTONIC
 * time, so that a test (or a benchmark) can read what the device saw. It
 * also records each tcsetattr, because a pty does not keep the parity it
 * is asked for.
 *
 * Failure injection:
 *   QUORIN_STUB_FAIL=N          the N-th call on /dev/uinput fails (open is
 *                               1, the ioctls and the set-up write 2 to 9,
 *                               event writes from 10 on)
 *   QUORIN_STUB_FAIL_THREAD=N   the N-th pthread_create fails with EAGAIN
 *   QUORIN_STUB_HANG=N          the N-th call on /dev/uinput never returns,
 *                               as a device wedged in the kernel would
 *   QUORIN_STUB_FAIL_WATCH=1    every inotify_add_watch fails with ENOSPC,
 *                               as when the user's watches are used up
 *   QUORIN_STUB_REFUSE_PARITY=1 a tcsetattr that asks for parity fails with
 *                               EINVAL once applied, as where the C library
 *                               checks what the driver kept
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static atomic_int uinput_fd = -1;
static atomic_int setup_written;
static atomic_int created;
static atomic_int call_count;
static atomic_int thread_count;

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static void record(const char *format, ...)
{
    static int log_fd = -1;
    const char *path = getenv("QUORIN_STUB_LOG");
    char line[4096];
    va_list args;
    int length;

    if (!path)
        return;
    if (log_fd < 0)
        log_fd = NEXT(open)(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    va_start(args, format);
    length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0 || log_fd < 0)
        return;
    if (length > (int)sizeof line - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    /* One write per line on an O_APPEND descriptor: lines never mix. */
    if (NEXT(write)(log_fd, line, (size_t)length) < 0)
        return;
}

static int env_number(const char *name)
{
    const char *value = getenv(name);
    return value ? atoi(value) : 0;
}

/* Numbers the calls on /dev/uinput from 1. */
static int next_call(void)
{
    return atomic_fetch_add(&call_count, 1) + 1;
}

static int told_to_fail(int call)
{
    return call == env_number("QUORIN_STUB_FAIL");
}

static void hang_if_told(int call)
{
    if (call != env_number("QUORIN_STUB_HANG"))
        return;
    record("hang");
    for (;;)
        pause();
}

static int fail(int error, const char *what)
{
    record("fail %s", what);
    errno = error;
    return -1;
}

static int is_uinput(const char *path)
{
    return path && strcmp(path, "/dev/uinput") == 0;
}

static int open_uinput(int flags)
{
    int fd;

    if (told_to_fail(next_call()))
        return fail(ENOENT, "open");
    fd = memfd_create("uinput-stub", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    atomic_store(&uinput_fd, fd);
    atomic_store(&setup_written, 0);
    atomic_store(&created, 0);
    record("open flags=0x%x", flags);
    return fd;
}

int open(const char *path, int flags, ...)
{
    va_list args;
    mode_t mode;

    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
    if (is_uinput(path))
        return open_uinput(flags);
    return NEXT(open)(path, flags, mode);
}

/* The same call on a 64-bit system. */
int open64(const char *path, int flags, ...) __attribute__((alias("open")));

static const char *request_name(unsigned long request)
{
    switch (request) {
    case UI_SET_EVBIT:
        return "UI_SET_EVBIT";
    case UI_SET_KEYBIT:
        return "UI_SET_KEYBIT";
    case UI_SET_ABSBIT:
        return "UI_SET_ABSBIT";
    case UI_DEV_CREATE:
        return "UI_DEV_CREATE";
    case UI_DEV_DESTROY:
        return "UI_DEV_DESTROY";
    default:
        return "unknown";
    }
}

static int uinput_ioctl(unsigned long request, unsigned long argument)
{
    const char *name = request_name(request);

    if (told_to_fail(next_call()))
        return fail(EIO, name);
    if (request == UI_DEV_CREATE) {
        if (!atomic_load(&setup_written) || atomic_load(&created))
            return fail(EINVAL, name);
        atomic_store(&created, 1);
        record("ioctl %s", name);
        return 0;
    }
    if (atomic_load(&created) || strcmp(name, "unknown") == 0)
        return fail(EINVAL, name);
    record("ioctl %s %lu", name, argument);
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    unsigned long argument;

    va_start(args, request);
    argument = va_arg(args, unsigned long);
    va_end(args);
    if (fd >= 0 && fd == atomic_load(&uinput_fd))
        return uinput_ioctl(request, argument);
    return NEXT(ioctl)(fd, request, argument);
}

static void record_setup(const struct uinput_user_dev *setup)
{
    char hex[2 * sizeof *setup + 1];
    const unsigned char *bytes = (const unsigned char *)setup;

    for (size_t i = 0; i < sizeof *setup; i++)
        sprintf(hex + 2 * i, "%02x", bytes[i]);
    record("setup %s", hex);
}

/* Events that came in one write share its call number. */
static void record_events(const struct input_event *events, size_t count, int call)
{
    struct timespec now;

    clock_gettime(CLOCK_MONOTONIC, &now);
    for (size_t i = 0; i < count; i++)
        record("event %u %u %d call=%d mono=%lld", events[i].type, events[i].code, events[i].value,
               call, (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
}

static ssize_t uinput_write(const void *buffer, size_t count)
{
    int call = next_call();

    hang_if_told(call);
    if (told_to_fail(call))
        return fail(EIO, "write");
    if (!atomic_load(&created)) {
        if (count != sizeof(struct uinput_user_dev) || atomic_load(&setup_written))
            return fail(EINVAL, "setup");
        atomic_store(&setup_written, 1);
        record_setup(buffer);
        return (ssize_t)count;
    }
    if (count == 0 || count % sizeof(struct input_event) != 0)
        return fail(EINVAL, "event");
    record_events(buffer, count / sizeof(struct input_event), call);
    return (ssize_t)count;
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    if (fd >= 0 && fd == atomic_load(&uinput_fd))
        return uinput_write(buffer, count);
    return NEXT(write)(fd, buffer, count);
}

int close(int fd)
{
    if (fd >= 0 && fd == atomic_load(&uinput_fd)) {
        record("close");
        atomic_store(&uinput_fd, -1);
    }
    return NEXT(close)(fd);
}

int tcsetattr(int fd, int action, const struct termios *attributes)
{
    record("tcsetattr iflag=0x%x oflag=0x%x cflag=0x%x lflag=0x%x speed=%u action=%d",
           attributes->c_iflag, attributes->c_oflag, attributes->c_cflag, attributes->c_lflag,
           (unsigned)cfgetospeed(attributes), action);
    if (NEXT(tcsetattr)(fd, action, attributes) < 0)
        return -1;
    if (env_number("QUORIN_STUB_REFUSE_PARITY") && (attributes->c_cflag & PARENB))
        return fail(EINVAL, "tcsetattr");
    return 0;
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument)
{
    int number = atomic_fetch_add(&thread_count, 1) + 1;

    if (number == env_number("QUORIN_STUB_FAIL_THREAD")) {
        record("fail pthread_create %d", number);
        return EAGAIN;
    }
    return NEXT(pthread_create)(thread, attributes, start, argument);
}

int inotify_add_watch(int fd, const char *path, uint32_t mask)
{
    if (env_number("QUORIN_STUB_FAIL_WATCH"))
        return fail(ENOSPC, "inotify_add_watch");
    return NEXT(inotify_add_watch)(fd, path, mask);
}
