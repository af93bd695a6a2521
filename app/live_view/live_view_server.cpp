// The live view's server: one thread running one Asio context, so every session, the timer and
// the fan-out of frames to clients run there without locks of their own. Boost.Beast does the
// HTTP and the WebSocket framing. The processing worker wakes it through the feed; a client's
// outgoing messages wait in a bounded queue of its own that gives up its oldest entries.
#include "live_view.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <exception>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "core/app_health.h"
#include "core/shared_state.h"
#include "core/clocks.h"
#include "live_view/foxglove_protocol.h"
#include "live_view/live_view_assets.h"
#include "live_view/live_view_feed.h"
#include "live_view/live_view_messages.h"

namespace app {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = beast::error_code;

constexpr std::size_t kMaxConnections = 16;
// A client message up to the hard limit is read and answered (a status error when it is over
// the soft one); a larger one closes the connection (close code 1009).
constexpr std::size_t kMaxClientMessageBytes = 64 * 1024;
constexpr std::size_t kHardClientMessageBytes = 1024 * 1024;
constexpr std::size_t kMaxQueuedMessages = 32;
constexpr std::size_t kMaxQueuedBytes = 8u << 20;
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kHandshakeTimeout = std::chrono::seconds(10);
// A client that neither sends nor answers a ping for this long is closed; so is one whose write
// has not completed for as long (it stopped reading: the ping would wait behind that write).
constexpr auto kIdleTimeout = std::chrono::seconds(20);
constexpr uint64_t kWriteStallMs = 20000;
// While no frame comes (stream OFF), state and transforms are still sent this often.
constexpr auto kStatePeriod = std::chrono::milliseconds(500);
constexpr uint64_t kWindowPeriodMs = 100;
constexpr auto kStopGrace = std::chrono::seconds(2);
constexpr const char* kServerName = "lidar-obstacle live view";

class Server;

// One outgoing WebSocket message: a binary message-data frame (head + shared payload) or text.
struct Outgoing {
  bool binary = false;
  std::string head;
  std::shared_ptr<const std::string> body;
  std::size_t size() const { return head.size() + body->size(); }
};

class WsSession : public std::enable_shared_from_this<WsSession> {
 public:
  WsSession(beast::tcp_stream&& stream, Server& server);
  ~WsSession();
  void start(http::request<http::string_body> request, std::string protocol);
  void close();
  bool open() const { return open_; }
  const Subscriptions& subscriptions() const { return subscriptions_; }
  void send_data(LiveChannel channel, uint64_t stamp_ns,
                 const std::shared_ptr<const std::string>& payload);
  void close_if_stalled(uint64_t now_ms);

 private:
  void on_accept(error_code ec);
  void read();
  void on_read(error_code ec, std::size_t bytes);
  void send_text(std::string text);
  void enqueue(Outgoing message);
  void write_next();
  void on_write(error_code ec, std::size_t bytes);
  void fail();

  websocket::stream<beast::tcp_stream> ws_;
  Server& server_;
  beast::flat_buffer buffer_;
  Subscriptions subscriptions_;
  std::deque<Outgoing> queue_;
  std::size_t queued_bytes_ = 0;
  std::optional<Outgoing> in_flight_;
  uint64_t write_started_ms_ = 0;
  bool open_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket&& socket, Server& server);
  ~HttpSession();
  void start() { read(); }
  void close();

 private:
  void read();
  void on_read(error_code ec, std::size_t bytes);
  void upgrade();
  void respond(http::status status, const std::string& text, bool keep_alive);
  void serve_asset();
  void on_write(bool keep_alive, error_code ec, std::size_t bytes);

  beast::tcp_stream stream_;
  Server& server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<void> response_;
};

class Server {
 public:
  explicit Server(tcp::endpoint endpoint) : endpoint_(endpoint), timer_(ioc_) {}

  bool listen(std::string& error);
  uint16_t port() const { return port_; }
  void run_thread();
  // Stops accepting and closes every connection (on the server's thread).
  void shut_down();
  net::io_context& context() { return ioc_; }

  // Bookkeeping of the sessions (server's thread only).
  void connection_opened() { note_live_view_clients(++connections_); }
  void connection_closed() { note_live_view_clients(--connections_); }
  void add_ws(const std::shared_ptr<WsSession>& session) { ws_sessions_.push_back(session); }
  void add_http(const std::shared_ptr<HttpSession>& session) { http_sessions_.push_back(session); }
  // A client's subscriptions changed, or it went away: what the worker copies follows.
  void subscriptions_changed();
  // Sends what the newest frame in the feed gives to the clients subscribed to it.
  void on_frame();

 private:
  void accept();
  void on_accept(error_code ec, tcp::socket socket);
  void arm_timer();
  void on_timer();
  template <typename Build>
  void publish(LiveChannel channel, uint64_t stamp_ms, Build&& build);
  void publish_state(uint64_t stamp_ms);
  void publish_stream_down(uint64_t stamp);
  bool any_subscribed(LiveChannel channel) const;

  tcp::endpoint endpoint_;
  uint16_t port_ = 0;
  uint64_t connections_ = 0;
  uint64_t refused_said_ms_ = 0;
  std::vector<std::weak_ptr<WsSession>> ws_sessions_;
  std::vector<std::weak_ptr<HttpSession>> http_sessions_;
  LiveFrame frame_;
  bool have_frame_ = false;
  uint64_t last_frame_ms_ = 0;   // steady_ms when the last frame's messages went out
  uint64_t last_window_ms_ = 0;  // ... and the last window cloud
  // Declared last, destroyed first: handlers it still holds end their sessions, which touch the
  // members above.
  net::io_context ioc_{1};
  tcp::acceptor acceptor_{ioc_};
  net::steady_timer timer_;
};

FrameSummary stream_down_summary() {
  FrameSummary down;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (ObstacleDistances* d : {&down.distances, &down.corridor}) {
    d->frente = d->tras = d->esquerda = d->direita = d->cima = d->baixo = nan;
  }
  return down;
}

template <typename T>
void prune(std::vector<std::weak_ptr<T>>& sessions) {
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [](const std::weak_ptr<T>& s) { return s.expired(); }),
                 sessions.end());
}

// ---- WebSocket session ----------------------------------------------------------------------

WsSession::WsSession(beast::tcp_stream&& stream, Server& server)
    : ws_(std::move(stream)), server_(server) {
  server_.connection_opened();
}

WsSession::~WsSession() { server_.connection_closed(); }

void WsSession::start(http::request<http::string_body> request, std::string protocol) {
  // The WebSocket layer keeps its own time-outs; the TCP stream's would cut a quiet client.
  beast::get_lowest_layer(ws_).expires_never();
  websocket::stream_base::timeout timeouts{};
  timeouts.handshake_timeout = kHandshakeTimeout;
  timeouts.idle_timeout = kIdleTimeout;
  timeouts.keep_alive_pings = true;
  ws_.set_option(timeouts);
  ws_.set_option(websocket::stream_base::decorator([protocol](websocket::response_type& res) {
    res.set(http::field::sec_websocket_protocol, protocol);
    res.set(http::field::server, kServerName);
  }));
  ws_.read_message_max(kHardClientMessageBytes);
  ws_.async_accept(request, beast::bind_front_handler(&WsSession::on_accept, shared_from_this()));
}

void WsSession::on_accept(error_code ec) {
  if (ec) return fail();
  open_ = true;
  static const std::string session_id = std::to_string(wall_ms());
  send_text(server_info_message(kServerName, session_id));
  send_text(advertise_message());
  read();
}

void WsSession::read() {
  ws_.async_read(buffer_, beast::bind_front_handler(&WsSession::on_read, shared_from_this()));
}

void WsSession::on_read(error_code ec, std::size_t bytes) {
  if (ec) return fail();
  if (!ws_.got_text()) {
    send_text(status_message(StatusLevel::kError,
                             "binary client messages are not supported by this server"));
  } else if (bytes > kMaxClientMessageBytes) {
    send_text(status_message(StatusLevel::kError, "message of " + std::to_string(bytes) +
                                                      " bytes is over the limit of " +
                                                      std::to_string(kMaxClientMessageBytes)));
  } else {
    const auto data = buffer_.cdata();
    const std::string_view text(static_cast<const char*>(data.data()), data.size());
    bool changed = false;
    for (std::string& reply : subscriptions_.handle(text, changed)) send_text(std::move(reply));
    if (changed) server_.subscriptions_changed();
  }
  buffer_.consume(buffer_.size());
  // A large message leaves a large buffer behind; a client's memory stays at its queue.
  if (buffer_.capacity() > kMaxClientMessageBytes) buffer_.shrink_to_fit();
  read();
}

void WsSession::send_text(std::string text) {
  Outgoing message;
  message.body = std::make_shared<const std::string>(std::move(text));
  enqueue(std::move(message));
}

void WsSession::send_data(LiveChannel channel, uint64_t stamp_ns,
                          const std::shared_ptr<const std::string>& payload) {
  for (const uint32_t id : subscriptions_.on(channel)) {
    Outgoing message;
    message.binary = true;
    message.head = message_data_head(id, stamp_ns);
    message.body = payload;
    enqueue(std::move(message));
  }
}

// The newest message always gets in; the oldest waiting ones make room for it.
void WsSession::enqueue(Outgoing message) {
  if (!open_) return;
  queued_bytes_ += message.size();
  queue_.push_back(std::move(message));
  while (queue_.size() > 1 &&
         (queue_.size() > kMaxQueuedMessages || queued_bytes_ > kMaxQueuedBytes)) {
    queued_bytes_ -= queue_.front().size();
    queue_.pop_front();
    note_live_view_dropped();
  }
  write_next();
}

void WsSession::write_next() {
  if (in_flight_ || queue_.empty() || !open_) return;
  in_flight_ = std::move(queue_.front());
  queue_.pop_front();
  queued_bytes_ -= in_flight_->size();
  write_started_ms_ = steady_ms();
  ws_.binary(in_flight_->binary);
  const std::array<net::const_buffer, 2> buffers = {net::buffer(in_flight_->head),
                                                    net::buffer(*in_flight_->body)};
  ws_.async_write(buffers, beast::bind_front_handler(&WsSession::on_write, shared_from_this()));
}

void WsSession::on_write(error_code ec, std::size_t) {
  in_flight_.reset();
  if (ec) return fail();
  note_live_view_sent();
  write_next();
}

void WsSession::close_if_stalled(uint64_t now_ms) {
  if (open_ && in_flight_ && now_ms - write_started_ms_ >= kWriteStallMs) fail();
}

void WsSession::fail() {
  const bool was_open = open_;
  queue_.clear();
  queued_bytes_ = 0;
  close();
  if (was_open) server_.subscriptions_changed();
}

void WsSession::close() {
  open_ = false;
  error_code ignored;
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

// ---- HTTP session: the page's files, or the upgrade to a WebSocket ---------------------------

HttpSession::HttpSession(tcp::socket&& socket, Server& server)
    : stream_(std::move(socket)), server_(server) {
  server_.connection_opened();
}

HttpSession::~HttpSession() { server_.connection_closed(); }

void HttpSession::read() {
  parser_.emplace();
  parser_->header_limit(8 * 1024);
  parser_->body_limit(4 * 1024);
  stream_.expires_after(kRequestTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   beast::bind_front_handler(&HttpSession::on_read, shared_from_this()));
}

void HttpSession::on_read(error_code ec, std::size_t) {
  if (ec == http::error::body_limit) {
    return respond(http::status::payload_too_large, "request too large\n", false);
  }
  if (ec) return close();
  if (websocket::is_upgrade(parser_->get())) return upgrade();
  serve_asset();
}

void HttpSession::upgrade() {
  const auto offered = parser_->get()[http::field::sec_websocket_protocol];
  std::string protocol = choose_subprotocol(std::string_view(offered.data(), offered.size()));
  if (protocol.empty()) {
    return respond(http::status::bad_request,
                   "this server speaks the WebSocket subprotocols foxglove.websocket.v1 and "
                   "foxglove.sdk.v1; offer one of them\n",
                   false);
  }
  auto session = std::make_shared<WsSession>(std::move(stream_), server_);
  server_.add_ws(session);
  session->start(parser_->release(), std::move(protocol));
}

void HttpSession::respond(http::status status, const std::string& text, bool keep_alive) {
  auto response = std::make_shared<http::response<http::string_body>>(status, 11);
  response->set(http::field::server, kServerName);
  response->set(http::field::content_type, "text/plain; charset=utf-8");
  response->body() = text;
  response->keep_alive(keep_alive);
  response->prepare_payload();
  response_ = response;
  http::async_write(
      stream_, *response,
      beast::bind_front_handler(&HttpSession::on_write, shared_from_this(), keep_alive));
}

void HttpSession::serve_asset() {
  const auto& request = parser_->get();
  const bool keep_alive = request.keep_alive();
  if (request.method() != http::verb::get && request.method() != http::verb::head) {
    return respond(http::status::method_not_allowed, "only GET and HEAD\n", keep_alive);
  }
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));
  if (target == "/index.html") target = "/";
  for (std::size_t i = 0; i < kLiveViewAssetCount; ++i) {
    const LiveViewAsset& asset = kLiveViewAssets[i];
    if (target != asset.path) continue;
    auto response = std::make_shared<http::response<http::buffer_body>>(http::status::ok, 11);
    response->set(http::field::server, kServerName);
    response->set(http::field::content_type, asset.content_type);
    response->set(http::field::cache_control, "no-cache");
    response->keep_alive(keep_alive);
    response->content_length(asset.size);
    response->body().data =
        request.method() == http::verb::head ? nullptr : const_cast<unsigned char*>(asset.data);
    response->body().size = request.method() == http::verb::head ? 0 : asset.size;
    response->body().more = false;
    response_ = response;
    http::async_write(
        stream_, *response,
        beast::bind_front_handler(&HttpSession::on_write, shared_from_this(), keep_alive));
    return;
  }
  respond(http::status::not_found, "not found\n", keep_alive);
}

void HttpSession::on_write(bool keep_alive, error_code ec, std::size_t) {
  response_.reset();
  if (ec || !keep_alive) return close();
  read();
}

void HttpSession::close() {
  error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.socket().close(ignored);
}

// ---- the server -------------------------------------------------------------------------------

bool Server::listen(std::string& error) {
  error_code ec;
  acceptor_.open(endpoint_.protocol(), ec);
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint_, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint(ec).port();
  accept();
  arm_timer();
  set_live_view_waker([this] { net::post(ioc_, [this] { on_frame(); }); });
  return true;
}

void Server::run_thread() {
  // Nothing may escape the thread's body: an exception here would end the whole service.
  for (;;) {
    try {
      ioc_.run();
      return;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "[ERR] live view: %s\n", error.what());
      std::fflush(stderr);
    }
  }
}

void Server::accept() {
  acceptor_.async_accept(beast::bind_front_handler(&Server::on_accept, this));
}

void Server::on_accept(error_code ec, tcp::socket socket) {
  if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
  if (!ec) {
    if (connections_ >= kMaxConnections) {
      note_live_view_refused();
      const uint64_t now = steady_ms();
      if (refused_said_ms_ == 0 || now - refused_said_ms_ >= 10000) {
        refused_said_ms_ = now;
        std::fprintf(stderr, "[ERR] live view: %zu conexoes abertas, o limite; conexao recusada\n",
                     kMaxConnections);
        std::fflush(stderr);
      }
      error_code ignored;
      socket.close(ignored);
    } else {
      prune(http_sessions_);
      // Each message goes out as it is written: with Nagle's algorithm a frame's second message
      // waited for the client's delayed acknowledgement of the first (about 40 ms).
      error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      auto session = std::make_shared<HttpSession>(std::move(socket), *this);
      add_http(session);
      session->start();
    }
  }
  accept();
}

void Server::shut_down() {
  set_live_view_waker({});
  set_live_view_wants(0);
  error_code ignored;
  acceptor_.close(ignored);
  timer_.cancel();
  for (auto& weak : ws_sessions_) {
    if (auto session = weak.lock()) session->close();
  }
  for (auto& weak : http_sessions_) {
    if (auto session = weak.lock()) session->close();
  }
}

bool Server::any_subscribed(LiveChannel channel) const {
  for (const auto& weak : ws_sessions_) {
    const auto session = weak.lock();
    if (session && session->open() && session->subscriptions().any_on(channel)) return true;
  }
  return false;
}

void Server::subscriptions_changed() {
  prune(ws_sessions_);
  unsigned wants = 0;
  for (const auto& weak : ws_sessions_) {
    const auto session = weak.lock();
    if (!session || !session->open() || session->subscriptions().empty()) continue;
    wants |= kWantFrames;
    if (session->subscriptions().any_on(LiveChannel::kPoints)) wants |= kWantPoints;
    if (session->subscriptions().any_on(LiveChannel::kObstacles)) wants |= kWantBoxes;
  }
  set_live_view_wants(wants);
}

// Builds a channel's payload once, only when someone subscribed, and hands it to each of them.
template <typename Build>
void Server::publish(LiveChannel channel, uint64_t stamp_ms, Build&& build) {
  if (!any_subscribed(channel)) return;
  const auto payload = std::make_shared<const std::string>(build());
  for (const auto& weak : ws_sessions_) {
    if (auto session = weak.lock(); session && session->open()) {
      session->send_data(channel, stamp_ms * 1000000ull, payload);
    }
  }
}

void Server::publish_state(uint64_t stamp_ms) {
  publish(LiveChannel::kState, stamp_ms, [&] {
    LiveState state;
    state.stamp_ms = stamp_ms;
    state.ok = stream_ok.load();
    if (have_frame_) {
      state.frame = frame_.entry.frame;
      state.has_processing = true;
      state.processing_ms = static_cast<double>(frame_.entry.processing_ns) / 1e6;
    }
    if (!state.ok) {
      // As the frame stream's OFF entry: no distances while the stream is down.
      state.frame = stream_down_summary();
      state.has_processing = false;
    }
    state.freq_pcl = freq_pcl.load();
    state.freq_imu = freq_imu.load();
    {
      std::lock_guard<std::mutex> hold(state_mutex);
      state.temperatura = temperatura;
    }
    state.attitude = copy_attitude();
    return state_message(state);
  });
  publish(LiveChannel::kTransforms, stamp_ms,
          [&] { return frame_transforms_message(stamp_ms, copy_attitude()); });
}

void Server::on_frame() {
  // A wake-up whose frame an earlier one already took has nothing new to send.
  if (!take_live_view_frame(frame_)) return;
  have_frame_ = true;
  const uint64_t stamp = frame_.entry.stamp_ms;
  if (frame_.has_points) {
    publish(LiveChannel::kPoints, stamp,
            [&] { return point_cloud_message(stamp, frame_.points.data(), frame_.points.size()); });
  }
  if (frame_.has_boxes) {
    publish(LiveChannel::kObstacles, stamp, [&] {
      return scene_update_message(stamp, frame_.entry.frame, frame_.boxes,
                                  copy_processing_params());
    });
  }
  const uint64_t now = steady_ms();
  if (now - last_window_ms_ >= kWindowPeriodMs && any_subscribed(LiveChannel::kPointsWindow)) {
    last_window_ms_ = now;
    const PointFrame window = copy_latest_cloud();
    publish(LiveChannel::kPointsWindow, stamp,
            [&] { return point_cloud_message(stamp, window.points.data(), window.points.size()); });
  }
  publish_state(stamp);
  last_frame_ms_ = now;
}

// While the stream is down the clouds are empty and the scene holds only the robot (no boxes,
// distances or corridors); sent on every period, so a client that subscribes then sees it too.
void Server::publish_stream_down(uint64_t stamp) {
  have_frame_ = false;
  const auto empty_cloud = [stamp] {
    return point_cloud_message(stamp, static_cast<const XyzPoint*>(nullptr), 0);
  };
  publish(LiveChannel::kPoints, stamp, empty_cloud);
  publish(LiveChannel::kPointsWindow, stamp, empty_cloud);
  publish(LiveChannel::kObstacles, stamp, [&] {
    return scene_update_message(stamp, stream_down_summary(), {}, copy_processing_params());
  });
}

void Server::arm_timer() {
  timer_.expires_after(kStatePeriod);
  timer_.async_wait([this](error_code ec) {
    if (ec) return;
    on_timer();
    arm_timer();
  });
}

void Server::on_timer() {
  const uint64_t now = steady_ms();
  for (const auto& weak : ws_sessions_) {
    if (auto session = weak.lock()) session->close_if_stalled(now);
  }
  prune(ws_sessions_);
  prune(http_sessions_);
  if (now - last_frame_ms_ < static_cast<uint64_t>(kStatePeriod.count())) return;
  const uint64_t stamp = wall_ms();
  if (!stream_ok.load()) publish_stream_down(stamp);
  publish_state(stamp);
}

// ---- start and stop -------------------------------------------------------------------------

std::unique_ptr<Server> server;
std::thread server_thread;

}  // namespace

uint16_t start_live_view(const LiveViewSettings& settings) {
  if (server) return server->port();
  error_code ec;
  const net::ip::address address = net::ip::make_address(settings.bind, ec);
  std::string error;
  if (ec) {
    error = "endereco invalido";
  } else {
    server = std::make_unique<Server>(tcp::endpoint(address, settings.port));
    if (!server->listen(error)) server.reset();
  }
  if (!server) {
    std::fprintf(stderr,
                 "[ERR] live view: nao foi possivel escutar em %s:%u (%s); servico segue "
                 "sem live view\n",
                 settings.bind.c_str(), settings.port, error.c_str());
    std::fflush(stderr);
    return 0;
  }
  server_thread = std::thread([] { server->run_thread(); });
  return server->port();
}

void stop_live_view() {
  if (!server) return;
  Server& s = *server;
  std::promise<void> closed;
  net::post(s.context(), [&s, &closed] {
    s.shut_down();
    closed.set_value();
  });
  // The connections end by themselves once closed; a write that hangs is cut short.
  closed.get_future().wait_for(kStopGrace);
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (!s.context().stopped() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  s.context().stop();
  if (server_thread.joinable()) server_thread.join();
  server.reset();
}

}  // namespace app
