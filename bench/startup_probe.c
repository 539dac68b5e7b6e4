/* Start-up time as a player sees it: from the moment the program is started to the moment its
 * window shows the finished picture.
 *
 *   startup_probe WINDOW_NAME PROGRAM [ARGUMENT ...]
 *
 * Starts PROGRAM and listens, without polling, to the X server: the map of a top-level window
 * called WINDOW_NAME, then every change of that window's pixels (XDamage). The last change
 * before the window stays still for a second is the first fully painted frame. Prints
 * "mapped_ms painted_ms peak_kib", the last the program's peak memory by then, and ends it.
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int ignoreErrors(Display* dpy, XErrorEvent* e) {
    (void)dpy;
    (void)e;
    return 0;
}

/* VmHWM of a process, in KiB; 0 if it cannot be read. */
static long peakKib(pid_t pid) {
    char path[64], line[256];
    long kib = 0;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* status = fopen(path, "r");
    if (!status) {
        return 0;
    }
    while (fgets(line, sizeof line, status)) {
        if (sscanf(line, "VmHWM: %ld", &kib) == 1) {
            break;
        }
    }
    fclose(status);
    return kib;
}

static int named(Display* dpy, Window window, const char* name) {
    char* title = NULL;
    int match = 0;
    if (XFetchName(dpy, window, &title) && title) {
        match = strcmp(title, name) == 0;
        XFree(title);
    }
    return match;
}

/* Waits up to `ms` for the next event; returns 0 when none came. */
static int nextEvent(Display* dpy, XEvent* ev, double ms) {
    if (!XPending(dpy)) {
        struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
        if (poll(&p, 1, (int)ms) <= 0) {
            return 0;
        }
    }
    XNextEvent(dpy, ev);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("usage: startup_probe WINDOW_NAME PROGRAM [ARGUMENT ...]\n", stderr);
        return 2;
    }
    Display* dpy = XOpenDisplay(NULL);
    int damageEvent = 0, damageError = 0;
    if (!dpy || !XDamageQueryExtension(dpy, &damageEvent, &damageError)) {
        fputs("startup_probe: no display with the DAMAGE extension\n", stderr);
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    const double started = now();
    const pid_t child = fork();
    if (child == 0) {
        /* The program's output is not the probe's: what it leaves running (Wine's services)
         * would otherwise hold the probe's output open after the probe has ended. */
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    double mapped = -1, painted = -1;
    Window window = 0;
    XEvent ev;
    while (now() - started < 10000) {
        const double quietFor = painted < 0 ? 10000 : 1000;
        if (!nextEvent(dpy, &ev, quietFor)) {
            break; /* still for a second: the picture is finished */
        }
        if (ev.type == MapNotify && !window && named(dpy, ev.xmap.window, argv[1])) {
            window = ev.xmap.window;
            mapped = now() - started;
            XDamageCreate(dpy, window, XDamageReportRawRectangles);
            XSync(dpy, False);
        } else if (ev.type == damageEvent + XDamageNotify) {
            painted = now() - started;
        }
    }
    const long peak = peakKib(child);
    kill(child, SIGTERM);
    waitpid(child, NULL, 0);
    if (mapped < 0 || painted < 0) {
        fputs("startup_probe: the window never showed\n", stderr);
        return 1;
    }
    printf("%.2f %.2f %ld\n", mapped, painted, peak);
    return 0;
}
