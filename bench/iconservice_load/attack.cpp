// iconservice_attack: one abusive client of the icon service on 127.0.0.1:PORT, played from
// loopback addresses of its own (so that nginx sees it apart from the desktops on 127.0.0.1),
// for the attack scripts beside bench/iconservice_load.sh. Every connection is a slot that is
// opened again as soon as the server ends it, for the whole run:
//
//   heads   sends a partial request head and nothing more (nginx's header timeout ends it)
//   bodies  sends an upload's head announcing --body-bytes and all of the body but its last
//           byte, then stalls (nginx's body timeout ends it)
//   fetch   GETs the --path targets in turn, one request per connection, the next one as soon
//           as the reply is in (a crowd on the gallery)
//
//   iconservice_attack MODE --port P [--from 127.0.0.2] [--addresses 1] [--clients 100]
//                      [--seconds 10] [--body-bytes 1048576] [--path TARGET]...
//
// --addresses K spreads the slots over K consecutive addresses from --from. Prints one line:
// "mode=M clients=N opened=.. ended_by_server=.. connect_failed=.. held_min=.. held_last=.."
// and, for fetch, "replies=.. status_200=.. ... p50_ms=.. p99_ms=..". held_min is the fewest
// slots that held a connection at a once-a-second sample, from the third second on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mode;
  int port = 0;
  std::string from = "127.0.0.2";
  int addresses = 1;
  int clients = 100;
  double seconds = 10;
  long bodyBytes = 1 << 20;
  std::vector<std::string> paths;
};

Options parse(int argc, char** argv) {
  Options options;
  if (argc < 2) throw std::invalid_argument("usage: iconservice_attack heads|bodies|fetch --port P [options]");
  options.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--port") options.port = std::stoi(value);
    else if (key == "--from") options.from = value;
    else if (key == "--addresses") options.addresses = std::stoi(value);
    else if (key == "--clients") options.clients = std::stoi(value);
    else if (key == "--seconds") options.seconds = std::stod(value);
    else if (key == "--body-bytes") options.bodyBytes = std::stol(value);
    else if (key == "--path") options.paths.push_back(value);
    else throw std::invalid_argument("unknown option " + key);
  }
  const bool known = options.mode == "heads" || options.mode == "bodies" || options.mode == "fetch";
  if (!known || options.port <= 0 || options.clients <= 0 || options.addresses <= 0 ||
      (options.mode == "fetch" && options.paths.empty())) {
    throw std::invalid_argument("usage: iconservice_attack heads|bodies|fetch --port P [--from A] [--addresses K]"
                                " [--clients N] [--seconds S] [--body-bytes B] [--path TARGET]...");
  }
  return options;
}

/** What a slot sends on each connection (fetch: one request per target, taken in turn). */
std::vector<std::string> requests(const Options& options) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(options.port) + "\r\n";
  if (options.mode == "heads") return {"POST /index.php?r=sw/exist HTTP/1.1\r\n" + host + "User-Agent: slow"};
  if (options.mode == "bodies") {
    const std::string boundary = "--------120924101010123";
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"a.ico\"\r\n\r\n";
    body.append(static_cast<std::size_t>(std::max(0L, options.bodyBytes - static_cast<long>(body.size()))), 'x');
    // The last byte is never sent: the body stays incomplete.
    return {"POST /index.php?r=sw/upload HTTP/1.0\r\n" + host + "Content-Type: multipart/form-data; boundary=" + boundary +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, body.size() - 1)};
  }
  std::vector<std::string> out;
  for (const auto& path : options.paths) out.push_back("GET " + path + " HTTP/1.0\r\n" + host + "\r\n");
  return out;
}

struct Slot {
  int fd = -1;
  std::size_t sent = 0;
  std::size_t request = 0;
  bool connected = false;
  Clock::time_point started;
  std::string reply;
};

struct Figures {
  long opened = 0, endedByServer = 0, connectFailed = 0, held = 0, heldMin = -1, failed = 0;
  std::map<int, long> statuses;
  std::vector<double> milliseconds;
};

class Attack {
 public:
  explicit Attack(const Options& options)
      : options_(options), requests_(requests(options)), slots_(static_cast<std::size_t>(options.clients)),
        epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_ < 0) throw std::runtime_error("epoll_create1 failed");
    in_addr first{};
    if (::inet_pton(AF_INET, options.from.c_str(), &first) != 1) throw std::invalid_argument("--from is not an IPv4 address");
    first_ = ntohl(first.s_addr);
  }
  ~Attack() {
    for (auto& slot : slots_) close(slot);
    ::close(epoll_);
  }
  Attack(const Attack&) = delete;
  Attack& operator=(const Attack&) = delete;

  Figures run() {
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.seconds));
    auto nextSample = start + std::chrono::seconds(1);
    std::vector<epoll_event> events(1024);
    while (Clock::now() < end) {
      for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].fd < 0) open(i);
      }
      const int ready = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
      for (int e = 0; e < ready; ++e) handle(events[static_cast<std::size_t>(e)].data.u64, events[static_cast<std::size_t>(e)].events);
      if (Clock::now() >= nextSample) {
        if (Clock::now() - start >= std::chrono::seconds(3)) {
          figures_.heldMin = figures_.heldMin < 0 ? holding() : std::min(figures_.heldMin, holding());
        }
        nextSample += std::chrono::seconds(1);
      }
    }
    figures_.held = holding();
    return figures_;
  }

 private:
  long holding() const {
    return std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.fd >= 0 && s.connected; });
  }

  void open(std::size_t i) {
    Slot& slot = slots_[i];
    slot = Slot{};
    slot.request = static_cast<std::size_t>(figures_.opened) % requests_.size();
    slot.started = Clock::now();
    slot.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(first_ + static_cast<std::uint32_t>(i % static_cast<std::size_t>(options_.addresses)));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (slot.fd < 0 || ::bind(slot.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(slot.fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS)) {
      ++figures_.connectFailed;
      close(slot);
      return;
    }
    epoll_event event{};
    event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
    event.data.u64 = i;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, slot.fd, &event);
    ++figures_.opened;
  }

  void handle(std::size_t i, std::uint32_t events) {
    Slot& slot = slots_[i];
    if (slot.fd < 0) return;
    if (!slot.connected) {
      int error = 0;
      socklen_t size = sizeof error;
      if (::getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        ++figures_.connectFailed;
        return close(slot);
      }
      slot.connected = true;
    }
    const std::string& request = requests_[slot.request];
    const std::size_t toSend = request.size();
    if ((events & EPOLLOUT) != 0 && slot.sent < toSend) {
      const ssize_t n = ::send(slot.fd, request.data() + slot.sent, toSend - slot.sent, MSG_NOSIGNAL);
      if (n > 0) slot.sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return end(slot, false);
      if (slot.sent == toSend) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = i;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, slot.fd, &event);
      }
    }
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0) return;
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::recv(slot.fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        if (slot.reply.size() < 64) slot.reply.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      return end(slot, n == 0);
    }
  }

  /** The server ended $slot's connection (cleanly when $eof); a fetch's reply is counted. */
  void end(Slot& slot, bool eof) {
    ++figures_.endedByServer;
    if (options_.mode == "fetch") {
      if (eof && slot.reply.compare(0, 7, "HTTP/1.") == 0 && slot.reply.size() >= 12) {
        ++figures_.statuses[std::atoi(slot.reply.c_str() + 9)];
        figures_.milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - slot.started).count());
      } else {
        ++figures_.failed;
      }
    }
    close(slot);
  }

  void close(Slot& slot) {
    if (slot.fd >= 0) ::close(slot.fd);
    slot.fd = -1;
    slot.connected = false;
  }

  Options options_;
  std::vector<std::string> requests_;
  std::vector<Slot> slots_;
  int epoll_;
  std::uint32_t first_ = 0;
  Figures figures_;
};

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parse(argc, argv);
    // As many sockets as the hard limit allows (the scripts raise it).
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    const Figures f = Attack(options).run();
    std::printf("mode=%s clients=%d addresses=%d opened=%ld ended_by_server=%ld connect_failed=%ld held_min=%ld held_last=%ld\n",
                options.mode.c_str(), options.clients, options.addresses, f.opened, f.endedByServer, f.connectFailed,
                std::max(0L, f.heldMin), f.held);
    if (options.mode == "fetch") {
      std::printf("replies=%zu failed=%ld", f.milliseconds.size(), f.failed);
      for (const auto& [status, count] : f.statuses) std::printf(" status_%d=%ld", status, count);
      std::printf(" p50_ms=%.1f p99_ms=%.1f\n", percentile(f.milliseconds, 0.5), percentile(f.milliseconds, 0.99));
    }
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "iconservice_attack: %s\n", error.what());
    return 2;
  }
}
