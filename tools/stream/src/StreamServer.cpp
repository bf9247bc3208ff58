#include "dravik/stream/StreamServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ByteRing.h"
#include "Socket.h"

namespace dravik::stream {

namespace {

constexpr int kListenBacklog = 16;
// A listener whose accept() fails for want of descriptors or memory is left alone this long, so
// that its pending connection does not keep poll() spinning.
constexpr int kAcceptPauseMs = 100;

using SteadyTime = std::chrono::steady_clock::time_point;

struct Client {
    Client(Fd socket, uint64_t id, std::string address, const ListenerInfo& listener,
           size_t queueBytes)
        : fd(std::move(socket)),
          id(id),
          address(std::move(address)),
          kind(listener.kind),
          listener(listener.address),
          queue(queueBytes) {}

    ClientStats stats(bool connected) const {
        ClientStats s;
        s.id = id;
        s.address = address;
        s.kind = kind;
        s.listener = listener;
        s.connected = connected;
        s.bytesSent = sent.load(std::memory_order_relaxed);
        s.bytesDropped = dropped.load(std::memory_order_relaxed);
        s.traceBytesDropped = traceDropped.load(std::memory_order_relaxed);
        s.bytesQueued = queue.queued();
        return s;
    }

    Fd fd;
    uint64_t id;
    std::string address;
    StreamKind kind;
    std::string listener;
    ByteRing queue;
    std::atomic<uint64_t> sent{0};          // network thread
    std::atomic<uint64_t> dropped{0};       // publisher
    std::atomic<uint64_t> traceDropped{0};  // publisher
    // Network thread only.
    bool blocked = false;  // its socket took less than offered: wait for POLLOUT
    bool readOpen = true;  // its side of the connection is still open
};

struct Listener {
    Fd fd;
    ListenerInfo info;
    SteadyTime pausedUntil{};
};

// Milliseconds from `now` until `then`, rounded up so that poll() does not wake just before.
int millisecondsUntil(SteadyTime now, SteadyTime then) {
    if (then <= now) {
        return 0;
    }
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(then - now).count() + 1);
}

int earlier(int timeoutMs, int candidateMs) {
    return timeoutMs < 0 ? candidateMs : std::min(timeoutMs, candidateMs);
}

uint64_t threadCpuNs(clockid_t clock) {
    timespec t{};
    if (::clock_gettime(clock, &t) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

bool listenOn(const ListenerConfig& config, Listener& listener, std::string& error) {
    const std::string asked = joinHostPort(config.address.host, config.address.port);
    std::string why;
    AddrInfoList list = resolve(config.address.host, config.address.port, true, why);
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        Fd fd = openSocket(*ai, why);
        if (!fd) {
            continue;
        }
        // A restarted server may take its port back while old connections linger in TIME_WAIT;
        // a port another program listens on still fails.
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0 ||
            ::listen(fd.get(), kListenBacklog) != 0) {
            why = errnoText(errno);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t size = sizeof bound;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &size);
        const sockaddr* address = reinterpret_cast<const sockaddr*>(&bound);
        listener.info.kind = config.kind;
        listener.info.address = describeAddress(address, size);
        listener.info.port = bound.ss_family == AF_INET6
                                 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                 : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
        listener.info.warning = isLoopbackAddress(numericHost(address, size))
                                    ? std::string()
                                    : unauthenticatedWarning(listener.info.address);
        listener.fd = std::move(fd);
        return true;
    }
    error = "cannot listen on " + asked + ": " + why;
    return false;
}

}  // namespace

struct StreamServer::State {
    explicit State(ServerOptions o) : options(std::move(o)) {}

    // --- network thread ---
    void run();
    void acceptClients(Listener& listener);
    // Sends every queue that is not blocked; whether any had bytes.
    bool sendRound();
    // Sends what the client's queue holds until it is empty or the socket is full; false with
    // `why` when the connection is broken.
    bool sendQueued(Client& client, std::string& why);
    // Reads and discards what the client sent; false with `why` once it has closed or failed.
    bool readDiscarding(Client& client, std::string& why);
    void remove(Client* client, const std::string& why);
    void closeAll();
    void log(const std::string& line) const {
        if (options.log) {
            options.log(line);
        }
    }

    // --- publisher ---
    bool offer(Client& client, const uint8_t* data, size_t size, size_t traceBytes, bool whole);

    ServerOptions options;
    std::vector<Listener> listeners;  // network thread, after start()
    std::vector<ListenerInfo> infos;  // fixed after start()
    Fd wake;                          // eventfd: publish() and stop() rouse the thread
    // Set while a wake-up is on its way or a round is due anyway: publishers need not wake it.
    std::atomic<bool> wakePending{false};
    std::atomic<bool> stopping{false};
    std::thread thread;
    clockid_t threadClock{};
    bool started = false;

    // Guards the client set (whose members the publisher copies into), the departed clients'
    // figures and the counters. The network thread changes the set under it; it sends and
    // reads without it.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool running = false;  // publish() queues bytes
    bool threadDone = false;
    uint64_t finalCpuNs = 0;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<ClientStats> departed;
    size_t frameClients = 0;
    uint64_t refused = 0;
    uint64_t published = 0;
    uint8_t frame[kMaxEncodedFrame];
    // Network thread only.
    uint64_t nextId = 1;
    std::vector<uint8_t> discard = std::vector<uint8_t>(4096);
};

StreamServer::StreamServer(ServerOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

StreamServer::~StreamServer() {
    stop();
}

bool StreamServer::start(std::string& error) {
    State& s = *state_;
    if (s.started) {
        error = "the stream server was started already";
        return false;
    }
    if (s.options.listeners.empty()) {
        error = "the stream server has no address to listen on";
        return false;
    }
    std::vector<Listener> listeners(s.options.listeners.size());
    for (size_t i = 0; i < listeners.size(); ++i) {
        if (!listenOn(s.options.listeners[i], listeners[i], error)) {
            return false;  // the ones opened close with `listeners`
        }
    }
    Fd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake) {
        error = "cannot start the stream server: " + errnoText(errno);
        return false;
    }
    s.wake = std::move(wake);
    s.listeners = std::move(listeners);
    for (const Listener& listener : s.listeners) {
        s.infos.push_back(listener.info);
    }
    try {
        s.thread = std::thread([&s] { s.run(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the stream server: ") + e.what();
        s.listeners.clear();
        s.infos.clear();
        return false;
    }
    s.started = true;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.running = true;
    }
    if (::pthread_getcpuclockid(s.thread.native_handle(), &s.threadClock) != 0) {
        s.threadClock = CLOCK_THREAD_CPUTIME_ID;  // not known: reads as the caller's
    }
    return true;
}

const std::vector<ListenerInfo>& StreamServer::listeners() const {
    return state_->infos;
}

bool StreamServer::State::offer(Client& client, const uint8_t* data, size_t size, size_t traceBytes,
                                bool whole) {
    const size_t room = client.queue.room();
    const size_t take = size <= room ? size : (whole ? 0 : room);
    if (take != size) {
        const size_t lost = size - take;
        client.dropped.fetch_add(lost, std::memory_order_relaxed);
        client.traceDropped.fetch_add(whole ? traceBytes : lost, std::memory_order_relaxed);
    }
    if (take == 0) {
        return false;
    }
    client.queue.write(data, take);
    return true;
}

void StreamServer::publish(const uint8_t* data, size_t size) noexcept {
    State& s = *state_;
    if (size == 0) {
        return;
    }
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.running) {
            return;
        }
        s.published += size;
        for (const std::unique_ptr<Client>& client : s.clients) {
            if (client->kind == StreamKind::Raw) {
                queued |= s.offer(*client, data, size, size, false);
            }
        }
        if (s.frameClients != 0) {
            for (size_t at = 0; at < size; at += kMaxFramePayload) {
                const size_t piece = std::min(kMaxFramePayload, size - at);
                const size_t encoded = encodeFrame(s.options.frameTag, data + at, piece, s.frame);
                for (const std::unique_ptr<Client>& client : s.clients) {
                    if (client->kind == StreamKind::Frames) {
                        queued |= s.offer(*client, s.frame, encoded, piece, true);
                    }
                }
            }
        }
    }
    if (queued && !s.wakePending.exchange(true, std::memory_order_acq_rel)) {
        const uint64_t one = 1;
        (void)!::write(s.wake.get(), &one, sizeof one);
    }
}

void StreamServer::stop() {
    State& s = *state_;
    if (!s.started) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.running = false;
    }
    if (s.thread.joinable()) {
        s.stopping.store(true);
        const uint64_t one = 1;
        (void)!::write(s.wake.get(), &one, sizeof one);
        s.thread.join();
    }
}

void StreamServer::State::run() {
    std::vector<pollfd> fds;
    std::vector<Listener*> polledListeners;
    std::vector<Client*> polledClients;
    bool flushing = false;
    SteadyTime flushDeadline{};
    // A round is due while the stream flows: publishers do not wake the thread meanwhile.
    bool roundScheduled = false;
    SteadyTime lastRound{};
    for (;;) {
        const SteadyTime now = std::chrono::steady_clock::now();
        if (stopping.load() && !flushing) {
            flushing = true;
            flushDeadline = now + options.flushTimeout;
            listeners.clear();  // later connections are refused by the system
        }
        if (roundScheduled && now >= lastRound + options.sendInterval) {
            roundScheduled = sendRound();
            lastRound = now;
        }
        if (flushing) {
            const bool empty = std::all_of(clients.begin(), clients.end(),
                                           [](const auto& c) { return c->queue.queued() == 0; });
            if (empty || now >= flushDeadline) {
                break;
            }
        }

        fds.clear();
        polledListeners.clear();
        polledClients.clear();
        fds.push_back({wake.get(), POLLIN, 0});
        int timeoutMs = -1;
        for (Listener& listener : listeners) {
            if (listener.pausedUntil > now) {
                timeoutMs = earlier(timeoutMs, millisecondsUntil(now, listener.pausedUntil));
                continue;
            }
            fds.push_back({listener.fd.get(), POLLIN, 0});
            polledListeners.push_back(&listener);
        }
        for (const std::unique_ptr<Client>& client : clients) {
            // A client that is not blocked gets its bytes in the next round.
            const short events = POLLIN | (client->blocked ? POLLOUT : 0);
            fds.push_back({client->fd.get(), events, 0});
            polledClients.push_back(client.get());
        }
        if (roundScheduled) {
            timeoutMs =
                earlier(timeoutMs, millisecondsUntil(now, lastRound + options.sendInterval));
        }
        if (flushing) {
            timeoutMs = earlier(timeoutMs, millisecondsUntil(now, flushDeadline));
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            break;  // not expected with valid descriptors; the clients are closed below
        }

        if (fds[0].revents != 0) {
            uint64_t count = 0;
            (void)!::read(wake.get(), &count, sizeof count);
            roundScheduled = true;
        }
        size_t at = 1;
        for (Listener* listener : polledListeners) {
            if (fds[at++].revents != 0) {
                acceptClients(*listener);
            }
        }
        for (Client* client : polledClients) {
            const short revents = fds[at++].revents;
            std::string why;
            bool open = true;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                open = readDiscarding(*client, why);
            }
            if (open && (revents & POLLERR) != 0) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(client->fd.get(), SOL_SOCKET, SO_ERROR, &error, &size);
                why = errnoText(error != 0 ? error : ECONNRESET);
                open = false;
            }
            if (open && (revents & POLLOUT) != 0) {
                client->blocked = false;  // room again: what it has waiting goes at once
                open = sendQueued(*client, why);
            }
            if (!open) {
                remove(client, why);
            }
        }
    }
    closeAll();
}

bool StreamServer::State::sendRound() {
    // Pairs with publish(): the queue positions written before it set the flag are seen below.
    wakePending.exchange(false, std::memory_order_acq_rel);
    bool any = false;
    std::vector<std::pair<Client*, std::string>> broken;
    for (const std::unique_ptr<Client>& client : clients) {
        if (client->blocked || client->queue.queued() == 0) {
            continue;
        }
        any = true;
        std::string why;
        if (!sendQueued(*client, why)) {
            broken.emplace_back(client.get(), why);
        }
    }
    for (const auto& [client, why] : broken) {
        remove(client, why);
    }
    if (any) {
        // The stream flows: the next round comes by the clock, without wake-ups.
        wakePending.exchange(true, std::memory_order_acq_rel);
    }
    return any;
}

void StreamServer::State::acceptClients(Listener& listener) {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        Fd fd(::accept4(listener.fd.get(), reinterpret_cast<sockaddr*>(&peer), &size,
                        SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            const int error = errno;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                log("cannot accept a client on the " +
                    std::string(streamKindName(listener.info.kind)) + " port " +
                    listener.info.address + ": " + errnoText(error));
                listener.pausedUntil =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
                return;
            }
            if (error == EINTR || error == ECONNABORTED) {
                continue;
            }
            return;  // EAGAIN: none left
        }
        const std::string address = describeAddress(reinterpret_cast<sockaddr*>(&peer), size);
        const std::string port =
            std::string(streamKindName(listener.info.kind)) + " port " + listener.info.address;
        size_t connected = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            connected = clients.size();
            if (connected >= options.maxClients) {
                ++refused;
            }
        }
        if (connected >= options.maxClients) {
            log("client " + address + " refused on the " + port + ": " +
                std::to_string(options.maxClients) +
                " clients connected already, the most allowed");
            continue;  // closed by fd
        }
        // The stream is many small writes that a live display wants at once.
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // Its queue is allocated and touched before the publisher can see it, not under the lock.
        auto client = std::make_unique<Client>(std::move(fd), nextId++, address, listener.info,
                                               options.queueBytes);
        {
            std::lock_guard<std::mutex> lock(mutex);
            frameClients += client->kind == StreamKind::Frames ? 1 : 0;
            clients.push_back(std::move(client));
            connected = clients.size();
        }
        changed.notify_all();
        log("client " + address + " connected to the " + port + " (" + std::to_string(connected) +
            " of " + std::to_string(options.maxClients) + ")");
    }
}

bool StreamServer::State::sendQueued(Client& client, std::string& why) {
    for (;;) {
        iovec pieces[2];
        const int count = client.queue.pending(pieces);
        if (count == 0) {
            return true;
        }
        const size_t offered = pieces[0].iov_len + (count == 2 ? pieces[1].iov_len : 0);
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t sent = ::sendmsg(client.fd.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                client.blocked = true;
                return true;
            }
            why = errnoText(errno);
            return false;
        }
        client.queue.consume(static_cast<size_t>(sent));
        client.sent.fetch_add(static_cast<uint64_t>(sent), std::memory_order_relaxed);
        if (static_cast<size_t>(sent) < offered) {
            client.blocked = true;  // the socket is full
            return true;
        }
    }
}

bool StreamServer::State::readDiscarding(Client& client, std::string& why) {
    for (;;) {
        const ssize_t got = ::recv(client.fd.get(), discard.data(), discard.size(), MSG_DONTWAIT);
        if (got > 0) {
            continue;  // clients have nothing to say; what they send is dropped
        }
        if (got == 0) {
            // The streams go one way only, so a client that closes its side is done with it.
            client.readOpen = false;
            why = "closed the connection";
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return true;
        }
        why = errnoText(errno);
        return false;
    }
}

void StreamServer::State::remove(Client* client, const std::string& why) {
    std::unique_ptr<Client> gone;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = std::find_if(clients.begin(), clients.end(),
                               [&](const std::unique_ptr<Client>& c) { return c.get() == client; });
        gone = std::move(*it);
        clients.erase(it);
        frameClients -= gone->kind == StreamKind::Frames ? 1 : 0;
        departed.push_back(gone->stats(false));
    }
    changed.notify_all();
    log("client " + gone->address + " left the " + streamKindName(gone->kind) + " port " +
        gone->listener + " (" + why + "): " + std::to_string(gone->sent.load()) + " bytes sent, " +
        std::to_string(gone->dropped.load()) + " dropped");
}

void StreamServer::State::closeAll() {
    std::vector<std::unique_ptr<Client>> closing;
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing.swap(clients);
        frameClients = 0;
        for (const std::unique_ptr<Client>& client : closing) {
            departed.push_back(client->stats(false));
        }
        finalCpuNs = threadCpuNs(CLOCK_THREAD_CPUTIME_ID);
        threadDone = true;
    }
    changed.notify_all();
    std::string ignored;
    for (const std::unique_ptr<Client>& client : closing) {
        // What the client sent and we did not read would turn the close into a reset, which
        // may throw away the stream's last bytes on their way to it.
        if (client->readOpen) {
            readDiscarding(*client, ignored);
        }
        ::shutdown(client->fd.get(), SHUT_WR);
    }
    listeners.clear();
}

std::vector<ClientStats> StreamServer::clients() const {
    const State& s = *state_;
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<ClientStats> all = s.departed;
    for (const std::unique_ptr<Client>& client : s.clients) {
        all.push_back(client->stats(true));
    }
    std::sort(all.begin(), all.end(),
              [](const ClientStats& a, const ClientStats& b) { return a.id < b.id; });
    return all;
}

uint64_t StreamServer::refusedClients() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->refused;
}

uint64_t StreamServer::publishedBytes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->published;
}

bool StreamServer::waitForClients(size_t count, std::chrono::milliseconds timeout) const {
    const State& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, timeout, [&] { return s.clients.size() == count; });
}

double StreamServer::networkCpuSeconds() const {
    const State& s = *state_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.started) {
        return 0;
    }
    // While the thread runs its clock is valid; it records its total before it ends.
    const uint64_t ns = s.threadDone ? s.finalCpuNs : threadCpuNs(s.threadClock);
    return static_cast<double>(ns) / 1e9;
}

}  // namespace dravik::stream
