/* The e2e harness's own small X client.
 *
 *   xprobe bells        prints "bell <monotonic seconds>" for every bell the server rings;
 *                       a line "sync" on its input answers "synced" once every bell that the
 *                       server rang before it has been printed
 *   xprobe close WINDOW asks WINDOW to close, as a window manager's close button does
 *   xprobe nobell       switches the server's bell off, as a user's desktop settings can
 *   xprobe cover        maps a window over the whole screen and prints its id
 */
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>

// Prints every bell of the events already read from the server.
static void printBells(Display* dpy, int event) {
    while (XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == event && ((XkbAnyEvent*)&ev)->xkb_type == XkbBellNotify) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            printf("bell %.6f\n", (double)now.tv_sec + (double)now.tv_nsec / 1e9);
        }
    }
    fflush(stdout);
}

static int bells(Display* dpy) {
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor)) {
        fputs("xprobe: the server has no XKB extension\n", stderr);
        return 1;
    }
    XkbSelectEvents(dpy, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    puts("ready");
    fflush(stdout);
    const int xfd = ConnectionNumber(dpy);
    char line[64];
    for (;;) {
        printBells(dpy, event);
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(xfd, &ready);
        FD_SET(0, &ready);
        if (select(xfd + 1, &ready, NULL, NULL, NULL) < 0 || !FD_ISSET(0, &ready)) {
            continue;
        }
        if (!fgets(line, sizeof line, stdin)) {
            return 0;  // the harness is gone
        }
        if (strcmp(line, "sync\n") == 0) {
            // The server answers after every event it sent before: those bells are read by
            // then, and printed before the answer.
            XSync(dpy, False);
            printBells(dpy, event);
            puts("synced");
            fflush(stdout);
        }
    }
}

static int closeWindow(Display* dpy, Window window) {
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &ev);
    XSync(dpy, False);
    return 0;
}

static int noBell(Display* dpy) {
    XKeyboardControl control;
    control.bell_percent = 0;
    XChangeKeyboardControl(dpy, KBBellPercent, &control);
    XkbChangeEnabledControls(dpy, XkbUseCoreKbd, XkbAudibleBellMask, 0);
    XSync(dpy, False);
    return 0;
}

static int cover(Display* dpy) {
    const int screen = DefaultScreen(dpy);
    Window window = XCreateSimpleWindow(
        dpy, RootWindow(dpy, screen), 0, 0, (unsigned)DisplayWidth(dpy, screen),
        (unsigned)DisplayHeight(dpy, screen), 0, BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XStoreName(dpy, window, "cover");
    XMapRaised(dpy, window);
    XSync(dpy, False);
    printf("%lu\n", (unsigned long)window);
    fflush(stdout);
    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
    }
    return 0;
}

int main(int argc, char** argv) {
    Display* dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fputs("xprobe: cannot open the display\n", stderr);
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "bells") == 0) {
        return bells(dpy);
    }
    if (argc == 3 && strcmp(argv[1], "close") == 0) {
        return closeWindow(dpy, (Window)strtoul(argv[2], NULL, 0));
    }
    if (argc == 2 && strcmp(argv[1], "nobell") == 0) {
        return noBell(dpy);
    }
    if (argc == 2 && strcmp(argv[1], "cover") == 0) {
        return cover(dpy);
    }
    fputs("usage: xprobe bells | close WINDOW | nobell | cover\n", stderr);
    return 2;
}
