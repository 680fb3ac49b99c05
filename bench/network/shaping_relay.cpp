// A TCP byte relay on 127.0.0.1 that stands for a network link between a client and a server
// on the same machine: every byte is held for half the round trip in each direction, each
// direction carries at most the link rate (one link shared by all connections, as an access
// link is), and a new connection waits one round trip before its first byte moves, the cost of
// the TCP handshake that loopback does not have. It never looks into the bytes (TLS passes
// through untouched), holds at most what the link has in flight, and stops after a given time.
//
// Prints the port it listens on (kernel-picked) on the first line of standard output. With
// --log FILE it writes, every 10 ms while bytes move towards the server, the monotonic time in
// nanoseconds, the bytes taken from clients so far and the bytes handed to the server so far;
// a line "accept TIME" for each connection; and at the end a line "connections N".
//
// Usage: zelt-shaping-relay --target PORT|--target-file FILE --rtt MS --rate MBIT
//                           [--seconds N] [--log FILE]
// --rate 0: no bandwidth limit. --target-file: the server's port is read from FILE when the
// first client comes (the server may be started after the relay, told the relay's port).

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Nanoseconds = std::chrono::nanoseconds;

// Read in pieces this large, so that the release times follow the link closely.
constexpr size_t pieceSize = 16 * 1024;
// The kernel's own buffers on the relay's side are kept small: the link's bytes in flight are
// the relay's queue, not hidden socket buffers.
constexpr int socketBuffer = 64 * 1024;

struct Piece
{
    std::vector<char> bytes;
    size_t offset = 0;
    Clock::time_point deliverAt;
};

// One direction of the link, shared by every connection.
struct Link
{
    double bytesPerSecond = 0; // 0: unlimited
    Nanoseconds oneWay{0};
    Clock::time_point freeAt{};
    uint64_t taken = 0;
    uint64_t delivered = 0;

    // Whether a reader may take more now: the link has less than a few milliseconds of bytes
    // queued before it (a router's queue), enough that it never idles between two turns of
    // the loop.
    bool mayTake(Clock::time_point now) const
    {
        return bytesPerSecond <= 0 || freeAt <= now + std::chrono::milliseconds(8);
    }
    Clock::time_point schedule(Clock::time_point now, size_t size)
    {
        if (bytesPerSecond <= 0)
            return now + oneWay;
        const auto start = std::max(now, freeAt);
        freeAt = start + Nanoseconds(int64_t(double(size) / bytesPerSecond * 1e9));
        return freeAt + oneWay;
    }
};

struct Flow
{
    int from = -1;
    int to = -1;
    Link *link = nullptr;
    std::deque<Piece> queue;
    size_t queued = 0;
    bool fromClosed = false;
    bool toShut = false;
};

struct Connection
{
    int client = -1;
    int server = -1;
    Clock::time_point opensAt;
    Flow up;
    Flow down;
    bool dead = false;
};

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void setBuffers(int fd)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &socketBuffer, sizeof socketBuffer);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &socketBuffer, sizeof socketBuffer);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int connectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    setBuffers(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    setNonBlocking(fd);
    return fd;
}

// Moves what is due from the queue to the destination; false when the destination is gone.
bool deliver(Flow &flow, Clock::time_point now)
{
    while (!flow.queue.empty() && flow.queue.front().deliverAt <= now) {
        auto &piece = flow.queue.front();
        const ssize_t written = send(flow.to, piece.bytes.data() + piece.offset,
                                     piece.bytes.size() - piece.offset, MSG_NOSIGNAL);
        if (written < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        piece.offset += size_t(written);
        flow.queued -= size_t(written);
        flow.link->delivered += uint64_t(written);
        if (piece.offset < piece.bytes.size())
            return true;
        flow.queue.pop_front();
    }
    if (flow.queue.empty() && flow.fromClosed && !flow.toShut) {
        shutdown(flow.to, SHUT_WR);
        flow.toShut = true;
    }
    return true;
}

// Takes what the link allows from the source; false when the source failed.
bool take(Flow &flow, Clock::time_point now, size_t cap)
{
    while (!flow.fromClosed && flow.queued < cap && flow.link->mayTake(now)) {
        Piece piece;
        piece.bytes.resize(pieceSize);
        const ssize_t got = recv(flow.from, piece.bytes.data(), pieceSize, 0);
        if (got == 0) {
            flow.fromClosed = true;
            break;
        }
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        piece.bytes.resize(size_t(got));
        piece.deliverAt = flow.link->schedule(now, size_t(got));
        flow.link->taken += uint64_t(got);
        flow.queued += size_t(got);
        flow.queue.push_back(std::move(piece));
    }
    return true;
}

volatile sig_atomic_t stopping = 0;

void stop(int)
{
    stopping = 1;
}

unsigned long long nanosecondsOf(Clock::time_point t)
{
    return static_cast<unsigned long long>(
        std::chrono::duration_cast<Nanoseconds>(t.time_since_epoch()).count());
}

} // namespace

int main(int argc, char *argv[])
{
    int target = -1;
    double rttMs = -1;
    double rateMbit = -1;
    double seconds = 600;
    std::string logPath;
    std::string targetFile;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char *value = argv[i + 1];
        if (name == "--target")
            target = std::atoi(value);
        else if (name == "--rtt")
            rttMs = std::atof(value);
        else if (name == "--rate")
            rateMbit = std::atof(value);
        else if (name == "--seconds")
            seconds = std::atof(value);
        else if (name == "--log")
            logPath = value;
        else if (name == "--target-file")
            targetFile = value;
        else
            target = -1;
    }
    if (!targetFile.empty() && target < 0)
        target = 0;
    if (argc % 2 != 1 || target < 0 || target > 65535 || (target == 0 && targetFile.empty()) ||
        rttMs < 0 || rateMbit < 0 || seconds <= 0) {
        std::fprintf(stderr,
                     "usage: %s --target PORT --rtt MS --rate MBIT [--seconds N] "
                     "[--log FILE]\n",
                     argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, stop);
    signal(SIGINT, stop);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setBuffers(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("zelt-shaping-relay");
        return 1;
    }
    setNonBlocking(listener);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    FILE *log = logPath.empty() ? nullptr : std::fopen(logPath.c_str(), "w");
    // Read while the relay runs.
    if (log)
        setvbuf(log, nullptr, _IOLBF, 0);
    const Nanoseconds rtt(int64_t(rttMs * 1e6));
    Link up;
    Link down;
    up.bytesPerSecond = down.bytesPerSecond = rateMbit * 1e6 / 8;
    up.oneWay = down.oneWay = rtt / 2;
    // What one direction of a connection holds: the bytes in flight over half a round trip at
    // the link rate, and a few pieces more.
    const size_t cap =
        size_t(up.bytesPerSecond > 0 ? up.bytesPerSecond * (rttMs / 2000) : 4 * 1024 * 1024) +
        4 * pieceSize;

    std::vector<std::unique_ptr<Connection>> connections;
    int accepted = 0;
    const auto end = Clock::now() + Nanoseconds(int64_t(seconds * 1e9));
    auto nextSample = Clock::now();
    uint64_t sampledTaken = ~uint64_t(0);
    while (!stopping && Clock::now() < end) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        const auto now = Clock::now();
        for (const auto &c : connections) {
            const bool open = now >= c->opensAt;
            const auto events = [&](const Flow &flow, const Flow &other) {
                short e = 0;
                if (open && !flow.fromClosed && flow.queued < cap && flow.link->mayTake(now))
                    e |= POLLIN;
                if (!other.queue.empty() && other.queue.front().deliverAt <= now)
                    e |= POLLOUT;
                return e;
            };
            fds.push_back({c->client, events(c->up, c->down), 0});
            fds.push_back({c->server, events(c->down, c->up), 0});
        }
        poll(fds.data(), nfds_t(fds.size()), 1);

        const auto later = Clock::now();
        if (fds[0].revents & POLLIN) {
            for (;;) {
                const int client = accept(listener, nullptr, nullptr);
                if (client < 0)
                    break;
                if (target == 0) {
                    if (FILE *file = std::fopen(targetFile.c_str(), "r")) {
                        if (std::fscanf(file, "%d", &target) != 1)
                            target = 0;
                        std::fclose(file);
                    }
                }
                const int server = connectTo(uint16_t(target));
                if (server < 0) {
                    close(client);
                    continue;
                }
                setNonBlocking(client);
                setBuffers(client);
                auto c = std::make_unique<Connection>();
                c->client = client;
                c->server = server;
                c->opensAt = later + rtt;
                c->up = Flow{client, server, &up, {}, 0, false, false};
                c->down = Flow{server, client, &down, {}, 0, false, false};
                connections.push_back(std::move(c));
                ++accepted;
                if (log)
                    std::fprintf(log, "accept %llu\n", nanosecondsOf(later));
            }
        }
        for (auto &c : connections) {
            if (later < c->opensAt)
                continue;
            if (!take(c->up, later, cap) || !take(c->down, later, cap) || !deliver(c->up, later) ||
                !deliver(c->down, later))
                c->dead = true;
            const bool drained = c->up.fromClosed && c->down.fromClosed && c->up.queue.empty() &&
                                 c->down.queue.empty();
            if (c->dead || drained) {
                close(c->client);
                close(c->server);
                c->client = c->server = -1;
            }
        }
        std::erase_if(connections, [](const auto &c) { return c->client < 0; });
        if (log && later >= nextSample) {
            nextSample = later + std::chrono::milliseconds(10);
            if (up.taken != sampledTaken || !connections.empty()) {
                std::fprintf(log, "%llu %llu %llu\n", nanosecondsOf(later),
                             static_cast<unsigned long long>(up.taken),
                             static_cast<unsigned long long>(up.delivered));
                sampledTaken = up.taken;
            }
        }
    }
    if (log) {
        std::fprintf(log, "connections %d\n", accepted);
        std::fclose(log);
    }
    return 0;
}
