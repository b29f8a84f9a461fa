/* vmtool: what the guest's busybox lacks for the checks.
 *
 *   vmtool run OUT ERR PROGRAM [ARG...]
 *       runs PROGRAM with its standard output in OUT and its error output in
 *       ERR, and prints "status=S ms=T cpu=C": its exit status (128 + signal
 *       when killed), wall milliseconds and CPU milliseconds (user + system).
 *       A run still going after 20 s is killed.
 *   vmtool as UID GID PROGRAM [ARG...]
 *       runs PROGRAM as that user, with GID as its only group.
 *   vmtool serial-flags DEVICE
 *       prints the port's serial flags (TIOCGSERIAL) in hexadecimal.
 *   vmtool low-latency DEVICE on|off
 *       sets or clears the port's low-latency flag (TIOCSSERIAL).
 *
 * Built with the host's gcc -static, so it needs nothing in the guest.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long nowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static long long cpuMs(const struct rusage *usage) {
    return ((long long)usage->ru_utime.tv_sec + usage->ru_stime.tv_sec) * 1000 +
           (usage->ru_utime.tv_usec + usage->ru_stime.tv_usec) / 1000;
}

static int redirect(const char *path, int to) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return -1;
    dup2(fd, to);
    close(fd);
    return 0;
}

static int run(char **argv) {
    long long start = nowMs();
    pid_t pid = fork();
    if (pid < 0) return perror("fork"), 1;
    if (pid == 0) {
        if (redirect(argv[0], 1) != 0 || redirect(argv[1], 2) != 0) _exit(126);
        alarm(20); /* kept across exec: a run that hangs is ended */
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return perror("wait4"), 1;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("status=%d ms=%lld cpu=%lld\n", code, nowMs() - start, cpuMs(&usage));
    return 0;
}

static int runAs(char **argv) {
    uid_t uid = (uid_t)strtoul(argv[0], NULL, 10);
    gid_t gid = (gid_t)strtoul(argv[1], NULL, 10);
    if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return perror("vmtool as"), 1;
    execv(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}

/* The port's serial settings in `serial`; its descriptor, or -1. */
static int readSerial(const char *path, struct serial_struct *serial) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return perror(path), -1;
    memset(serial, 0, sizeof *serial);
    if (ioctl(fd, TIOCGSERIAL, serial) != 0) return perror("TIOCGSERIAL"), close(fd), -1;
    return fd;
}

static int serialFlags(char **argv) {
    struct serial_struct serial;
    int fd = readSerial(argv[0], &serial);
    if (fd < 0) return 1;
    close(fd);
    printf("0x%x\n", (unsigned)serial.flags);
    return 0;
}

static int lowLatency(char **argv) {
    struct serial_struct serial;
    int fd = readSerial(argv[0], &serial);
    if (fd < 0) return 1;
    if (strcmp(argv[1], "on") == 0) serial.flags |= ASYNC_LOW_LATENCY;
    else serial.flags &= ~ASYNC_LOW_LATENCY;
    int status = ioctl(fd, TIOCSSERIAL, &serial);
    if (status != 0) perror("TIOCSSERIAL");
    close(fd);
    return status == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc >= 5 && strcmp(argv[1], "run") == 0) return run(argv + 2);
    if (argc >= 5 && strcmp(argv[1], "as") == 0) return runAs(argv + 2);
    if (argc == 3 && strcmp(argv[1], "serial-flags") == 0) return serialFlags(argv + 2);
    if (argc == 4 && strcmp(argv[1], "low-latency") == 0) return lowLatency(argv + 2);
    fprintf(stderr, "usage: vmtool run OUT ERR PROGRAM [ARG...] | as UID GID PROGRAM [ARG...]\n"
                    "       vmtool serial-flags DEVICE | low-latency DEVICE on|off\n");
    return 2;
}
