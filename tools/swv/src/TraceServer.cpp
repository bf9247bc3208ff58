#include "dravik/swv/TraceServer.h"

#include <algorithm>

namespace dravik::swv {

namespace {

const char* kindText(stream::StreamKind kind) {
    return kind == stream::StreamKind::Raw ? "raw" : "frames";
}

stream::ServerOptions serverOptions(const ServeOptions& options,
                                    std::function<void(const std::string&)> log) {
    stream::ServerOptions server;
    server.listeners = options.listeners;
    server.maxClients = options.maxClients;
    server.queueBytes = options.queueBytes;
    server.log = std::move(log);
    return server;
}

}  // namespace

TraceServer::TraceServer(const ServeOptions& options)
    : maxClients_(options.maxClients),
      server_(serverOptions(options, [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(logMutex_);
          log_ += "dravik-swv: " + line + "\n";
      })) {}

TraceServer::~TraceServer() {
    stop();
}

bool TraceServer::start(std::string& error) {
    return server_.start(error);
}

std::string TraceServer::listeningText() const {
    std::string text;
    for (const stream::ListenerInfo& listener : server_.listeners()) {
        text += listener.kind == stream::StreamKind::Raw
                    ? "dravik-swv: serving the raw trace on " + listener.address + "\n"
                    : "dravik-swv: serving frames of the trace (tag " +
                          std::to_string(stream::kItmTag) + ") on " + listener.address + "\n";
        if (!listener.warning.empty()) {
            text += "dravik-swv: " + listener.warning + "\n";
        }
    }
    return text;
}

std::string TraceServer::takeLog() {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::string lines;
    lines.swap(log_);
    return lines;
}

size_t TraceServer::connectedClients() const {
    const std::vector<stream::ClientStats> clients = server_.clients();
    return static_cast<size_t>(std::count_if(clients.begin(), clients.end(),
                                             [](const auto& client) { return client.connected; }));
}

void TraceServer::data(uint64_t, const uint8_t* bytes, size_t size) {
    server_.publish(bytes, size);
}

void TraceServer::gap(uint64_t, GapCause) {}

void TraceServer::stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    for (const stream::ClientStats& client : server_.clients()) {
        if (client.connected) {
            presentAtEnd_.push_back(client.id);
        }
    }
    server_.stop();
}

std::vector<std::string> TraceServer::summaryLines() const {
    std::string ports;
    for (const stream::ListenerInfo& listener : server_.listeners()) {
        ports +=
            (ports.empty() ? "" : ", ") + listener.address + " (" + kindText(listener.kind) + ")";
    }
    const std::vector<stream::ClientStats> clients = server_.clients();
    std::string head = "  served on " + ports + ": " + std::to_string(clients.size()) +
                       (clients.size() == 1 ? " client" : " clients");
    if (const uint64_t refused = server_.refusedClients()) {
        head += ", " + std::to_string(refused) + " refused (" + std::to_string(maxClients_) +
                " connected at once at the most)";
    }
    std::vector<std::string> lines = {head};
    for (const stream::ClientStats& client : clients) {
        const bool present =
            std::find(presentAtEnd_.begin(), presentAtEnd_.end(), client.id) != presentAtEnd_.end();
        // What was still queued when the server closed a client that stayed to the end never
        // reached it: lost like a drop. One that left was simply not there for the rest.
        const uint64_t dropped = client.bytesDropped + (present ? client.bytesQueued : 0);
        lines.push_back("  client " + std::to_string(client.id) + " " + client.address + " (" +
                        kindText(client.kind) + "): sent " + std::to_string(client.bytesSent) +
                        " B, dropped " + std::to_string(dropped) + " B" +
                        (present ? "" : ", left before the end"));
    }
    return lines;
}

}  // namespace dravik::swv
