/* A full-screen Wayland client for the system stage: prints its size and
 * where each touch lands on it, so that the host judges a calibration by
 * what a client of the compositor gets. Given an output's name, it goes
 * full screen there.
 *
 *     touch_logger [OUTPUT]
 *     size 480 800
 *     down 72.00 160.00
 */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct wl_seat *seat;
static struct wl_surface *surface;
static struct zxdg_output_manager_v1 *output_manager;
static struct wl_output *outputs[8];
static int output_count;
static struct wl_output *wanted;
static const char *wanted_name;
static int32_t offered_width, offered_height;

static void fail(const char *what)
{
    fprintf(stderr, "touch_logger: %s\n", what);
    exit(1);
}

/* A plain black buffer: the window must show something to be mapped. */
static void show(int width, int height)
{
    const int stride = width * 4;
    const size_t bytes = (size_t)stride * (size_t)height;
    int fd = memfd_create("touch_logger", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)bytes) < 0)
        fail("no shared memory");
    void *pixels = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED)
        fail("no mapping");
    memset(pixels, 0, bytes);
    munmap(pixels, bytes);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)bytes);
    struct wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, width, height);
    wl_surface_commit(surface);
}

static void ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {.ping = ping};

static void touch_down(void *data, struct wl_touch *touch, uint32_t serial, uint32_t time,
                       struct wl_surface *on, int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)touch, (void)serial, (void)time, (void)on, (void)id;
    printf("down %.2f %.2f\n", wl_fixed_to_double(x), wl_fixed_to_double(y));
    fflush(stdout);
}

static void touch_up(void *data, struct wl_touch *touch, uint32_t serial, uint32_t time, int32_t id)
{
    (void)data, (void)touch, (void)serial, (void)time, (void)id;
}

static void touch_motion(void *data, struct wl_touch *touch, uint32_t time, int32_t id,
                         wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)touch, (void)time, (void)id, (void)x, (void)y;
}

static void touch_nothing(void *data, struct wl_touch *touch)
{
    (void)data, (void)touch;
}

static const struct wl_touch_listener touch_listener = {.down = touch_down,
                                                        .up = touch_up,
                                                        .motion = touch_motion,
                                                        .frame = touch_nothing,
                                                        .cancel = touch_nothing};

static void capabilities(void *data, struct wl_seat *which, uint32_t caps)
{
    static struct wl_touch *touch;
    (void)data;
    if ((caps & WL_SEAT_CAPABILITY_TOUCH) && !touch) {
        touch = wl_seat_get_touch(which);
        wl_touch_add_listener(touch, &touch_listener, NULL);
    }
}

static void seat_name(void *data, struct wl_seat *which, const char *name)
{
    (void)data, (void)which, (void)name;
}

static const struct wl_seat_listener seat_listener = {.capabilities = capabilities,
                                                      .name = seat_name};

static void output_geometry(void *data, struct wl_output *output, int32_t x, int32_t y,
                            int32_t width, int32_t height, int32_t subpixel, const char *make,
                            const char *model, int32_t transform)
{
    (void)data, (void)output, (void)x, (void)y, (void)width, (void)height, (void)subpixel;
    (void)make, (void)model, (void)transform;
}

static void output_mode(void *data, struct wl_output *output, uint32_t flags, int32_t width,
                        int32_t height, int32_t refresh)
{
    (void)data, (void)output, (void)flags, (void)width, (void)height, (void)refresh;
}

static void output_int(void *data, struct wl_output *output, int32_t value)
{
    (void)data, (void)output, (void)value;
}

static void output_done(void *data, struct wl_output *output)
{
    (void)data, (void)output;
}

static void output_name(void *data, struct wl_output *output, const char *name)
{
    (void)data;
    if (wanted_name && strcmp(name, wanted_name) == 0)
        wanted = output;
}

/* weston 10 names its outputs through xdg-output only. */
static void described_name(void *data, struct zxdg_output_v1 *described, const char *name)
{
    (void)described;
    output_name(NULL, data, name);
}

static void described_int2(void *data, struct zxdg_output_v1 *described, int32_t a, int32_t b)
{
    (void)data, (void)described, (void)a, (void)b;
}

static void described_done(void *data, struct zxdg_output_v1 *described)
{
    (void)data, (void)described;
}

static void described_text(void *data, struct zxdg_output_v1 *described, const char *text)
{
    (void)data, (void)described, (void)text;
}

static const struct zxdg_output_v1_listener described_listener = {.logical_position =
                                                                      described_int2,
                                                                  .logical_size = described_int2,
                                                                  .done = described_done,
                                                                  .name = described_name,
                                                                  .description = described_text};

static void output_description(void *data, struct wl_output *output, const char *description)
{
    (void)data, (void)output, (void)description;
}

static const struct wl_output_listener output_listener = {.geometry = output_geometry,
                                                          .mode = output_mode,
                                                          .done = output_done,
                                                          .scale = output_int,
                                                          .name = output_name,
                                                          .description = output_description};

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version)
{
    (void)data;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = wl_registry_bind(registry, name, &wl_seat_interface, version < 5 ? version : 5);
        wl_seat_add_listener(seat, &seat_listener, NULL);
    } else if (strcmp(interface, wl_output_interface.name) == 0 && wanted_name &&
               output_count < 8) {
        struct wl_output *output =
            wl_registry_bind(registry, name, &wl_output_interface, version < 4 ? version : 4);
        wl_output_add_listener(output, &output_listener, NULL);
        outputs[output_count++] = output;
    } else if (strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && wanted_name)
        output_manager = wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface,
                                          version < 2 ? version : 2);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {.global = global,
                                                              .global_remove = global_remove};

static void toplevel_configure(void *data, struct xdg_toplevel *toplevel, int32_t width,
                               int32_t height, struct wl_array *states)
{
    (void)data, (void)toplevel, (void)states;
    offered_width = width;
    offered_height = height;
}

static void toplevel_close(void *data, struct xdg_toplevel *toplevel)
{
    (void)data, (void)toplevel;
    exit(0);
}

static const struct xdg_toplevel_listener toplevel_listener = {.configure = toplevel_configure,
                                                               .close = toplevel_close};

/* A 0x0 configure leaves the size to the client: one pixel goes up until
 * the compositor names the output's size. */
static void surface_configure(void *data, struct xdg_surface *window, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(window, serial);
    if (offered_width > 0 && offered_height > 0) {
        printf("size %d %d\n", offered_width, offered_height);
        fflush(stdout);
        show(offered_width, offered_height);
    } else
        show(1, 1);
}

static const struct xdg_surface_listener surface_listener = {.configure = surface_configure};

int main(int argc, char **argv)
{
    wanted_name = argc > 1 ? argv[1] : NULL;
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        fail("no compositor answers");
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    if (wl_display_roundtrip(display) < 0 || !compositor || !shm || !wm_base)
        fail("the compositor lacks wl_compositor, wl_shm or xdg_wm_base");
    for (int i = 0; output_manager && i < output_count; ++i)
        zxdg_output_v1_add_listener(
            zxdg_output_manager_v1_get_xdg_output(output_manager, outputs[i]), &described_listener,
            outputs[i]);
    if (wanted_name && (wl_display_roundtrip(display) < 0 || !wanted))
        fail("no output of that name");
    surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *window = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(window, &surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(window);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
    xdg_toplevel_set_fullscreen(toplevel, wanted);
    wl_surface_commit(surface);
    while (wl_display_dispatch(display) >= 0)
        ;
    fail("lost the compositor");
}
