/* Preloaded into the Linux program by the end-to-end harness (LD_PRELOAD), so that the test owns
 * the game's time: on the game's own thread, the window's, CLOCK_MONOTONIC runs at the pace that
 * the harness writes into a small file (SORMIO_GAME_CLOCK), and that thread's timers and waits
 * keep to it. A turn of two seconds then lasts eight while the harness looks at it slowly, and a
 * case that times the game asks for the real pace. The game's other threads (its sound, which
 * plays in real time on the server) and everything outside the game keep the real clock.
 *
 * The file, written by the harness only (session.GameClock), little-endian:
 *   u32 seq (odd while it is being written), u32 0, i64 real ns, i64 game ns, f64 rate
 * so that game time = game + (real time - real) * rate, from `real` on.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

struct pace {
    uint32_t seq;
    uint32_t unused;
    int64_t real;
    int64_t game;
    double rate;
};

static const struct pace* pace;
static int (*next_clock_gettime)(clockid_t, struct timespec*);
static int (*next_timerfd_create)(int, int);
static int (*next_timerfd_settime)(int, int, const struct itimerspec*, struct itimerspec*);
static int (*next_poll)(struct pollfd*, nfds_t, int);
static int (*next_ppoll)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);
// Timer descriptors that the game's thread made on the monotonic clock.
static unsigned char paced_fd[4096];

// The functions this one stands in front of, found once: also when another library calls one
// of them before this library's constructor has run.
static void find(void* next, const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    memcpy(next, &found, sizeof found);  // ISO C has no cast between the two kinds of pointer
}

static void find_next(void) {
    if (__atomic_load_n(&next_clock_gettime, __ATOMIC_ACQUIRE) != NULL) {
        return;
    }
    find(&next_timerfd_create, "timerfd_create");
    find(&next_timerfd_settime, "timerfd_settime");
    find(&next_poll, "poll");
    find(&next_ppoll, "ppoll");
    int (*clock)(clockid_t, struct timespec*);
    find(&clock, "clock_gettime");
    __atomic_store_n(&next_clock_gettime, clock, __ATOMIC_RELEASE);
}

__attribute__((constructor)) static void start(void) {
    find_next();
    const char* path = getenv("SORMIO_GAME_CLOCK");
    if (path == NULL) {
        return;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    void* map = mmap(NULL, sizeof(struct pace), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map != MAP_FAILED) {
        pace = (const struct pace*)map;
    }
}

// The window's thread is the process's first.
static int paced(void) {
    static __thread int main_thread = -1;
    if (main_thread < 0) {
        main_thread = syscall(SYS_gettid) == getpid();
    }
    return pace != NULL && main_thread;
}

static void read_pace(int64_t* real, int64_t* game, double* rate) {
    uint32_t seq;
    do {
        seq = __atomic_load_n(&pace->seq, __ATOMIC_ACQUIRE);
        *real = pace->real;
        *game = pace->game;
        *rate = pace->rate;
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
    } while ((seq & 1) != 0 || seq != __atomic_load_n(&pace->seq, __ATOMIC_RELAXED));
    if (!(*rate > 0)) {  // never written: the real pace
        *real = *game = 0;
        *rate = 1;
    }
}

static int64_t ns_of(const struct timespec* t) {
    return (int64_t)t->tv_sec * 1000000000 + t->tv_nsec;
}

static struct timespec timespec_of(int64_t ns) {
    const struct timespec t = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
    return t;
}

int clock_gettime(clockid_t clock, struct timespec* t) {
    find_next();
    const int result = next_clock_gettime(clock, t);
    if (result == 0 && (clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_COARSE) && paced()) {
        int64_t real, game;
        double rate;
        read_pace(&real, &game, &rate);
        *t = timespec_of(game + (int64_t)((double)(ns_of(t) - real) * rate));
    }
    return result;
}

int timerfd_create(int clock, int flags) {
    find_next();
    const int fd = next_timerfd_create(clock, flags);
    if (fd >= 0 && fd < (int)sizeof paced_fd) {
        paced_fd[fd] = clock == CLOCK_MONOTONIC && paced();
    }
    return fd;
}

// A moment or a span of the game's clock, on the real one that the kernel counts.
int timerfd_settime(int fd, int flags, const struct itimerspec* value, struct itimerspec* old) {
    find_next();
    if (value == NULL || fd < 0 || fd >= (int)sizeof paced_fd || !paced_fd[fd] ||
        (value->it_value.tv_sec == 0 && value->it_value.tv_nsec == 0)) {
        return next_timerfd_settime(fd, flags, value, old);
    }
    int64_t real, game;
    double rate;
    read_pace(&real, &game, &rate);
    struct itimerspec on_real = *value;
    const int64_t at = ns_of(&value->it_value);
    const int64_t real_at = (flags & TFD_TIMER_ABSTIME)
                                ? real + (int64_t)((double)(at - game) / rate)
                                : (int64_t)(at / rate);
    on_real.it_value = timespec_of(real_at > 0 ? real_at : 1);
    on_real.it_interval = timespec_of((int64_t)((double)ns_of(&value->it_interval) / rate));
    return next_timerfd_settime(fd, flags, &on_real, old);
}

// The event loop waits as long as its next timer is due on the game's clock.
int poll(struct pollfd* fds, nfds_t n, int timeout_ms) {
    find_next();
    if (timeout_ms > 0 && paced()) {
        int64_t real, game;
        double rate;
        read_pace(&real, &game, &rate);
        const double ms = timeout_ms / rate;
        timeout_ms = ms < 1e9 ? (int)ms : 1000000000;
    }
    return next_poll(fds, n, timeout_ms);
}

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    find_next();
    if (timeout != NULL && paced()) {
        int64_t real, game;
        double rate;
        read_pace(&real, &game, &rate);
        const struct timespec on_real = timespec_of((int64_t)((double)ns_of(timeout) / rate));
        return next_ppoll(fds, n, &on_real, mask);
    }
    return next_ppoll(fds, n, timeout, mask);
}
