// A two-port Ethernet bridge that holds every frame for a fixed time before passing it on:
// a link with a round-trip time, for kernels without netem. It reads the frames arriving on
// each of two interfaces with a packet socket and sends each one out of the other interface
// once its delay has passed, in the order they came. Each direction is a queue of frames
// stamped with their due time; one poll loop serves both sockets and a timerfd armed for the
// earliest due frame, so frames in flight never wait on each other.
//
// Usage: delay_bridge IFACE_A IFACE_B ONE_WAY_DELAY_US [READY_FILE]
// It runs until SIGINT or SIGTERM, then prints on standard error the frames it passed each
// way, the largest frame, the frames the kernel dropped before it could read them and the
// frames it could not send. READY_FILE is created once both ports are open.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kFrameMax = 65536 + 256;  // an offloaded frame that slipped through still fits
constexpr size_t kBatch = 64;              // frames read from one port per wake-up

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Frame {
    int64_t due_ns;
    std::vector<uint8_t> bytes;
};

struct Port {
    std::string name;
    int fd = -1;
    int ifindex = 0;
};

// One direction: frames read from `in`, waiting to leave through `out`.
struct Direction {
    Direction(Port* from, Port* to) : in(from), out(to) {}
    Port* in;
    Port* out;
    std::deque<Frame> queue;
    uint64_t passed = 0;
    uint64_t send_failed = 0;
    size_t largest = 0;
};

bool open_port(Port& p) {
    p.fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (p.fd < 0) {
        perror("socket(AF_PACKET)");
        return false;
    }
    p.ifindex = int(if_nametoindex(p.name.c_str()));
    if (p.ifindex == 0) {
        fprintf(stderr, "delay_bridge: no interface %s\n", p.name.c_str());
        return false;
    }
    // Frames this process sends out of a port must not come back to it as input.
    int one = 1;
    setsockopt(p.fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    // Room for a whole window of a fast transfer while the loop is busy with the other port.
    int buf = 32 << 20;
    if (setsockopt(p.fd, SOL_SOCKET, SO_RCVBUFFORCE, &buf, sizeof buf) != 0)
        setsockopt(p.fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    if (setsockopt(p.fd, SOL_SOCKET, SO_SNDBUFFORCE, &buf, sizeof buf) != 0)
        setsockopt(p.fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_ALL);
    sll.sll_ifindex = p.ifindex;
    if (bind(p.fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
        perror("bind");
        return false;
    }
    packet_mreq mr{};
    mr.mr_ifindex = p.ifindex;
    mr.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(p.fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) != 0) {
        perror("PACKET_MR_PROMISC");
        return false;
    }
    return true;
}

// Reads what has arrived on the direction's input port, up to one batch, and queues it.
void read_frames(Direction& d, int64_t delay_ns, std::vector<uint8_t>& buf) {
    for (size_t n = 0; n < kBatch; ++n) {
        sockaddr_ll from{};
        socklen_t fromlen = sizeof from;
        ssize_t got = recvfrom(d.in->fd, buf.data(), buf.size(), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) perror("recvfrom");
            return;
        }
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        if (size_t(got) > buf.size()) {
            fprintf(stderr, "delay_bridge: %zd-byte frame on %s exceeds the buffer, dropped\n", got,
                    d.in->name.c_str());
            continue;
        }
        d.queue.push_back(
            Frame{now_ns() + delay_ns, std::vector<uint8_t>(buf.begin(), buf.begin() + got)});
    }
}

// Sends the due frames of a direction, oldest first. Returns false when the output port is
// full, so the caller waits for it to drain.
bool send_due(Direction& d, int64_t now) {
    while (!d.queue.empty() && d.queue.front().due_ns <= now) {
        Frame& f = d.queue.front();
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = d.out->ifindex;
        to.sll_halen = ETH_ALEN;
        memcpy(to.sll_addr, f.bytes.data(), ETH_ALEN);
        ssize_t sent = sendto(d.out->fd, f.bytes.data(), f.bytes.size(), 0,
                              reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) return false;
            if (errno == EINTR) continue;
            ++d.send_failed;
            if (d.send_failed <= 5)
                fprintf(stderr, "delay_bridge: send on %s: %s (%zu bytes)\n", d.out->name.c_str(),
                        strerror(errno), f.bytes.size());
        } else {
            ++d.passed;
            if (f.bytes.size() > d.largest) d.largest = f.bytes.size();
        }
        d.queue.pop_front();
    }
    return true;
}

uint64_t kernel_drops(const Port& p) {
    tpacket_stats st{};
    socklen_t len = sizeof st;
    if (getsockopt(p.fd, SOL_PACKET, PACKET_STATISTICS, &st, &len) != 0) return 0;
    return st.tp_drops;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: delay_bridge IFACE_A IFACE_B ONE_WAY_DELAY_US [READY_FILE]\n");
        return 2;
    }
    char* end = nullptr;
    long long delay_us = strtoll(argv[3], &end, 10);
    if (*argv[3] == '\0' || *end != '\0' || delay_us < 0 || delay_us > 10000000) {
        fprintf(stderr, "delay_bridge: the delay must be 0 to 10000000 microseconds\n");
        return 2;
    }
    const int64_t delay_ns = delay_us * 1000;

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    Port a, b;
    a.name = argv[1];
    b.name = argv[2];
    if (!open_port(a) || !open_port(b)) return 1;
    // Reading the counters resets them: count from here on.
    kernel_drops(a);
    kernel_drops(b);
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer < 0) {
        perror("timerfd_create");
        return 1;
    }
    if (argc > 4) {
        int fd = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
    }

    Direction ab{&a, &b}, ba{&b, &a};
    Direction* dirs[2] = {&ab, &ba};
    std::vector<uint8_t> buf(kFrameMax);
    bool blocked[2] = {false, false};  // output port was full at the last try

    while (!g_stop) {
        int64_t now = now_ns();
        for (int i = 0; i < 2; ++i) blocked[i] = !send_due(*dirs[i], now);

        // Wake for input, for a full port that drains, and for the next due frame.
        pollfd fds[3] = {{a.fd, POLLIN, 0}, {b.fd, POLLIN, 0}, {timer, POLLIN, 0}};
        if (blocked[1]) fds[0].events |= POLLOUT;  // b->a waits on a
        if (blocked[0]) fds[1].events |= POLLOUT;  // a->b waits on b
        int64_t next = INT64_MAX;
        for (int i = 0; i < 2; ++i)
            if (!blocked[i] && !dirs[i]->queue.empty() && dirs[i]->queue.front().due_ns < next)
                next = dirs[i]->queue.front().due_ns;
        itimerspec its{};
        if (next != INT64_MAX) {
            its.it_value.tv_sec = next / 1000000000;
            its.it_value.tv_nsec = next % 1000000000;
            if (its.it_value.tv_sec == 0 && its.it_value.tv_nsec == 0) its.it_value.tv_nsec = 1;
        }
        timerfd_settime(timer, TFD_TIMER_ABSTIME, &its, nullptr);
        if (next != INT64_MAX && next <= now_ns()) continue;  // already due: no need to sleep

        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            perror("poll");
            break;
        }
        if (fds[2].revents & POLLIN) {
            uint64_t expirations;
            ssize_t r = read(timer, &expirations, sizeof expirations);
            (void)r;
        }
        if (fds[0].revents & POLLIN) read_frames(ab, delay_ns, buf);
        if (fds[1].revents & POLLIN) read_frames(ba, delay_ns, buf);
    }

    const uint64_t drops = kernel_drops(a) + kernel_drops(b);
    fprintf(stderr,
            "delay_bridge: %s->%s %llu frames, %s->%s %llu frames, largest %zu bytes, "
            "dropped by the kernel %llu, failed to send %llu\n",
            a.name.c_str(), b.name.c_str(), (unsigned long long)ab.passed, b.name.c_str(),
            a.name.c_str(), (unsigned long long)ba.passed, std::max(ab.largest, ba.largest),
            (unsigned long long)drops, (unsigned long long)(ab.send_failed + ba.send_failed));
    return 0;
}
