/*
 * The least a poller of the control file can cost: one pread of a small
 * file and a 1400 microsecond pause, nothing else. bench/run runs it beside
 * the daemon and reads its CPU time the same way, so the daemon's idle
 * cost is judged against this floor rather than against zero.
 *
 * Usage: floor_loop FILE SECONDS
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double seconds_now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    char text[512];
    int fd;
    double end;

    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE SECONDS\n", argv[0]);
        return 2;
    }
    fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    end = seconds_now() + atof(argv[2]);
    while (seconds_now() < end) {
        if (pread(fd, text, sizeof text - 1, 0) < 0) {
            perror("pread");
            return 1;
        }
        usleep(1400);
    }
    return 0;
}
