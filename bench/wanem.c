// wanem: a long, lossy, rate-capped path between two TUN devices, each in a
// network namespace of its own. Every packet read from one device is dropped
// at random, or waits in a bounded drop-tail queue for a link of the given
// rate, then travels for a fixed one-way delay before it is written to the
// other device. Says "ready" on its output once both devices are attached,
// runs until SIGINT or SIGTERM, then counts there what it did.
//
//   wanem [-d ms] [-l percent] [-r Mbit/s] [-q KiB] [-s seed] NS_A TUN_A NS_B TUN_B
//
// NS_A and NS_B are names from `ip netns` and the devices are made beforehand
// (`ip tuntap add mode tun`). An option takes one value for both directions
// or two, "A-to-B,B-to-A". A rate of 0 means no cap (and no queue).
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

// Packets on their way in one direction: in the queue or on the wire. Sized
// for 250 ms of 1500-byte packets at a few hundred Mbit/s.
enum { SLOTS = 1 << 14, BIGGEST = 2048 };

struct packet {
    int64_t due; // when it leaves the far end of the wire (ns)
    uint16_t size;
    unsigned char bytes[BIGGEST];
};

struct direction {
    int from, to;        // the TUN descriptors
    int64_t delay;       // one way, ns
    double loss;         // probability that a packet is lost
    double rate;         // bytes per ns; 0 for no cap
    int64_t queue;       // bytes that may wait for the link
    int64_t linkfree;    // when the link has sent all that waits (ns)
    struct packet* ring; // FIFO: `due` never decreases
    unsigned head, count;
    uint64_t passed, lost, queuedrops, ringdrops;
};

static volatile sig_atomic_t stopping;
static uint64_t randomstate = 0x9e3779b97f4a7c15u;

static void stop(int signal) {
    (void)signal;
    stopping = 1;
}

static int64_t now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// Uniform in [0, 1) (xorshift64*).
static double uniform(void) {
    randomstate ^= randomstate >> 12;
    randomstate ^= randomstate << 25;
    randomstate ^= randomstate >> 27;
    return (double)((randomstate * 0x2545f4914f6cdd1dull) >> 11) / 9007199254740992.0;
}

static void die(const char* what) {
    perror(what);
    exit(1);
}

// Attaches to the TUN device `name` in the namespace `ns` (non-blocking).
static int opentun(const char* ns, const char* name) {
    char path[256];
    snprintf(path, sizeof path, "/run/netns/%s", ns);
    int nsfd = open(path, O_RDONLY | O_CLOEXEC);
    if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0) die(path);
    close(nsfd);
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) die("/dev/net/tun");
    struct ifreq request;
    memset(&request, 0, sizeof request);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    snprintf(request.ifr_name, IFNAMSIZ, "%s", name);
    if (ioctl(fd, TUNSETIFF, &request) != 0) die(name);
    return fd;
}

// "V" or "V1,V2": the value for each direction.
static void pair(const char* text, double value[2]) {
    char* end;
    value[0] = value[1] = strtod(text, &end);
    if (*end == ',') value[1] = strtod(end + 1, &end);
    if (*end != '\0' || value[0] < 0 || value[1] < 0) {
        fprintf(stderr, "wanem: not a value or a pair of values: %s\n", text);
        exit(2);
    }
}

// Reads every packet waiting on the device and lets each on the wire, into
// the queue, or not at all.
static void take(struct direction* d) {
    static unsigned char spare[BIGGEST];
    for (;;) {
        const int full = d->count == SLOTS;
        struct packet* slot = full ? NULL : &d->ring[(d->head + d->count) % SLOTS];
        unsigned char* into = full ? spare : slot->bytes;
        const ssize_t size = read(d->from, into, BIGGEST);
        if (size < 0) {
            if (errno == EAGAIN || errno == EINTR) return;
            die("read");
        }
        if (full) {
            ++d->ringdrops;
            continue;
        }
        if (d->loss > 0 && uniform() < d->loss) {
            ++d->lost;
            continue;
        }
        const int64_t t = now();
        int64_t sent = t;
        if (d->rate > 0) {
            const int64_t start = d->linkfree > t ? d->linkfree : t;
            if ((double)(start - t) * d->rate + (double)size > (double)d->queue) {
                ++d->queuedrops;
                continue;
            }
            d->linkfree = start + (int64_t)((double)size / d->rate);
            sent = d->linkfree;
        }
        slot->due = sent + d->delay;
        slot->size = (uint16_t)size;
        ++d->count;
    }
}

// Writes every packet whose time has come; returns when the next one is due
// (INT64_MAX when none waits).
static int64_t deliver(struct direction* d, int64_t t) {
    while (d->count > 0) {
        struct packet* p = &d->ring[d->head];
        if (p->due > t) return p->due;
        if (write(d->to, p->bytes, p->size) == p->size) ++d->passed;
        d->head = (d->head + 1) % SLOTS;
        --d->count;
    }
    return INT64_MAX;
}

static int usage(void) {
    fprintf(stderr, "usage: wanem [-d ms] [-l percent] [-r Mbit/s] [-q KiB] [-s seed] "
                    "NS_A TUN_A NS_B TUN_B\n");
    return 2;
}

static void report(const char* from, const char* to, const struct direction* d) {
    printf("wanem %s to %s: %llu passed, %llu lost at random, %llu dropped by the full queue, "
           "%llu beyond the emulator's room\n",
           from, to, (unsigned long long)d->passed, (unsigned long long)d->lost,
           (unsigned long long)d->queuedrops, (unsigned long long)d->ringdrops);
}

int main(int argc, char** argv) {
    double delay[2] = {0, 0}, loss[2] = {0, 0}, rate[2] = {0, 0}, queue[2] = {1024, 1024};
    double* value[] = {delay, loss, rate, queue};
    const char* letters = "dlrq";
    int option;
    while ((option = getopt(argc, argv, "d:l:r:q:s:")) != -1) {
        const char* letter = strchr(letters, option);
        if (option == 's')
            randomstate = strtoull(optarg, NULL, 0) | 1;
        else if (letter)
            pair(optarg, value[letter - letters]);
        else
            return usage();
    }
    if (argc - optind != 4) return usage();
    const int a = opentun(argv[optind], argv[optind + 1]);
    const int b = opentun(argv[optind + 2], argv[optind + 3]);
    struct direction path[2] = {{.from = a, .to = b}, {.from = b, .to = a}};
    for (int i = 0; i < 2; ++i) {
        path[i].delay = (int64_t)(delay[i] * 1e6);
        path[i].loss = loss[i] / 100;
        path[i].rate = rate[i] * 1e6 / 8 / 1e9;
        path[i].queue = (int64_t)(queue[i] * 1024);
        path[i].ring = calloc(SLOTS, sizeof(struct packet));
        if (!path[i].ring) die("calloc");
    }

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stop;
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);
    // Wake within a microsecond of the time asked: a 1500-byte packet takes
    // 60 us at 200 Mbit/s.
    prctl(PR_SET_TIMERSLACK, 1000UL);

    // Both devices carry packets from now on.
    puts("ready");
    fflush(stdout);

    struct pollfd ready[2] = {{.fd = a, .events = POLLIN}, {.fd = b, .events = POLLIN}};
    while (!stopping) {
        const int64_t t = now();
        int64_t next = deliver(&path[0], t);
        const int64_t other = deliver(&path[1], t);
        if (other < next) next = other;
        struct timespec wait = {0, 0};
        if (next != INT64_MAX && next > t) {
            wait.tv_sec = (next - t) / 1000000000;
            wait.tv_nsec = (next - t) % 1000000000;
        }
        const int woken = ppoll(ready, 2, next == INT64_MAX ? NULL : &wait, NULL);
        if (woken < 0 && errno != EINTR) die("ppoll");
        for (int i = 0; i < 2 && woken > 0; ++i)
            if (ready[i].revents & POLLIN) take(&path[i]);
    }
    report(argv[optind], argv[optind + 2], &path[0]);
    report(argv[optind + 2], argv[optind], &path[1]);
    return 0;
}
