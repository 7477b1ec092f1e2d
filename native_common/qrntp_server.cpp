#include "native_common/qrntp_server.h"

#include "native_common/discovery_query.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "native_common/socket_set.h"
#include "native_common/socket_support.h"

namespace sorvel {
namespace {

QRNTPServerEvents& DefaultServerEvents() {
  static QRNTPServerEvents events;
  return events;
}

size_t QueuedSize(const std::string& function, const std::vector<uint8_t>& body) {
  // The entry's layout: name length, name, call id, body length, body, time-out.
  return 4 + function.size() + 4 + 4 + body.size() + 4;
}

}  // namespace

std::unique_ptr<QRNTPRequestHandler> QRNTPServerEvents::CreateHandler() {
  return std::make_unique<QRNTPRequestHandler>();
}

QRNTPServer::QRNTPServer(std::string subsystem, QRNTPServerEvents* events)
    : subsystem_(std::move(subsystem)), events_(events ? events : &DefaultServerEvents()) {}

QRNTPServer::~QRNTPServer() { Stop(); }

bool QRNTPServer::Start(uint16_t port) {
  if (thread_.IsStarted()) return false;
  stop_ = false;
  if (!listener_.Listen(port, 512)) return false;
  port_ = listener_.LocalPort();
  // Discovery answers come from the same port number over UDP; without that
  // socket the server runs on, only without answering discovery.
  discovery_.Bind(port_);
  if (!thread_.Start()) {
    discovery_.Close();
    listener_.Close();
    return false;
  }
  return true;
}

void QRNTPServer::Stop() {
  stop_ = true;
  thread_.Join();
  listener_.Close();
}

size_t QRNTPServer::SessionCount() const {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  return sessions_.size();
}

void QRNTPServer::Log(Session& session, int level, uint32_t code, std::string message) {
  if (session.link.socket() == nullptr) return;
  events_->OnLog(session.link.LogEntry(level, code, std::move(message)));
}

void QRNTPServer::CloseSession(Session& session) {
  std::lock_guard<std::mutex> lock(session.fd_mutex);
  session.fd = -1;
  if (session.link.socket() != nullptr) session.link.socket()->Close();
  session.closed = true;
}

std::vector<std::shared_ptr<QRNTPServer::Session>> QRNTPServer::Matching(const TcpSocket* socket) {
  std::vector<std::shared_ptr<Session>> found;
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  for (const auto& s : sessions_) {
    if (!s->closed && (socket == nullptr || s->link.socket() == socket)) found.push_back(s);
  }
  return found;
}

bool QRNTPServer::QueueCall(const TcpSocket* socket, std::string_view function, uint32_t call_id,
                            const std::vector<uint8_t>& body) {
  if (body.size() > kQrntpMaxBody) return false;
  bool taken = false;
  for (const auto& session : Matching(socket)) {
    OutboundCall call{std::string(function), call_id, body, settings_.call_timeout_ms};
    const size_t size = QueuedSize(call.function, call.body);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(session->queue_mutex);
        // A session that closed (and may be removed) takes nothing more.
        if (session->closed || stop_) break;
        if (session->queued_bytes <= kQueueLimit) {
          session->queue.push_back(std::move(call));
          session->queued_bytes += size;
          taken = true;
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return taken;
}

bool QRNTPServer::QueueCall(const TcpSocket* socket, std::string_view function, uint32_t call_id,
                            const ParamSet& body) {
  ParamSet copy(body);
  return QueueCall(socket, function, call_id, copy.Serialize());
}

void QRNTPServer::SetSessionFilters(const TcpSocket* socket, const PacketFilter* send, const PacketFilter* receive) {
  for (const auto& session : Matching(socket)) {
    std::lock_guard<MutexLock> lock(session->link_mutex);
    session->link.SetFilters(send, receive);
  }
}

void QRNTPServer::SetSessionKeepAlive(const TcpSocket* socket, bool on) {
  for (const auto& session : Matching(socket)) session->keep_alive = on;
}

void QRNTPServer::AcceptPending() {
  // Bounded per round, so a flood of connections cannot starve the sessions.
  for (int round = 0; round < 64 && !stop_; ++round) {
    std::unique_ptr<TcpSocket> socket = listener_.Accept(10);
    if (!socket) return;
    if (static_cast<long>(sessions_.size()) >= settings_.session_limit) {
      socket->Close();  // over the limit: the client sees the connection closed
      continue;
    }
    auto session = std::make_shared<Session>(subsystem_);
    session->handler = events_->CreateHandler();
    if (!session->handler) session->handler = std::make_unique<QRNTPRequestHandler>();
    session->fd = socket->handle();
    session->link.Attach(std::move(socket));
    const auto now = platform::GetClock().Now();
    session->last_receipt = now;
    session->keep_alive_schedule.Reset(now);
    session->handler->OnConnected(*session->link.socket());
    Log(*session, 0, qrntp_log::kConnection, qrntp_log::kAcceptedText);
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.push_back(std::move(session));
  }
}

void QRNTPServer::AnswerDiscovery() {
  ServeDiscoveryQuery(discovery_, [this](uint8_t* datagram, size_t) {
    QRNTPHeader h = QRNTPHeader::Decode(datagram);
    if (!h.MagicMatches() || !h.SubsystemIs(subsystem_) || !h.FunctionIs(kQrntpGetHostName)) return false;
    SetQrntpName(datagram + 18, kQrntpFunctionSize, kQrntpLetHostName);
    return true;
  });
}

void QRNTPServer::ServerLoop() {
  const long worker_count = settings_.worker_count > 0 ? settings_.worker_count : 1;
  workers_.clear();
  for (long i = 0; i < worker_count; ++i) workers_.push_back(std::make_unique<Worker>(this));
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.reserve(128);
  }
  SocketSet readable;
  while (!stop_) {
    // 1. Join the workers that finished.
    for (auto& worker : workers_) {
      if (worker->IsStarted() && !worker->running) worker->Join();
    }
    // 2. Remove closed sessions that no worker serves.
    for (size_t i = sessions_.size(); i-- > 0;) {
      std::shared_ptr<Session> session = sessions_[i];
      if (session->served || !session->closed) continue;
      Log(*session, 0, qrntp_log::kDisconnected, qrntp_log::kDisconnectedText);
      session->handler->OnDisconnected(*session->link.socket());
      session->handler.reset();
      std::lock_guard<std::mutex> lock(sessions_mutex_);
      sessions_.erase(sessions_.begin() + static_cast<long>(i));
    }
    // 3. Accept what is pending.
    AcceptPending();
    // 4. Wait briefly for any idle session's socket to become readable.
    readable.Clear();
    for (const auto& session : sessions_) {
      if (!session->served && !session->closed) readable.Add(session->fd, true, false);
    }
    readable.Wait(1);
    // 5. Hand sessions with work to free workers; drop silent ones.
    const auto now = platform::GetClock().Now();
    for (const auto& session : sessions_) {
      if (session->served || session->closed) continue;
      bool queued;
      {
        std::lock_guard<std::mutex> lock(session->queue_mutex);
        queued = !session->queue.empty();
      }
      const bool needs = readable.IsReadable(session->fd) || queued ||
                         (session->keep_alive && session->keep_alive_schedule.Due(settings_, now));
      if (needs) {
        for (auto& worker : workers_) {
          if (worker->IsStarted()) continue;
          worker->session = session;
          session->served = true;
          worker->running = true;
          if (!worker->Start()) {
            worker->running = false;
            session->served = false;
          }
          break;
        }
      } else if (MsPassed(session->last_receipt, now, settings_.receive_timeout_ms)) {
        std::lock_guard<MutexLock> lock(session->link_mutex);
        Log(*session, 2, qrntp_log::kLinkFailure, qrntp_log::SilenceText(settings_.receive_timeout_ms, 2));
        CloseSession(*session);
      }
    }
    // 6. Discovery.
    AnswerDiscovery();
    // 7. Pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Wake workers that wait inside a read, join them, then close every session.
  for (const auto& session : sessions_) {
    std::lock_guard<std::mutex> lock(session->fd_mutex);
    if (session->fd >= 0) ::shutdown(session->fd, SHUT_RDWR);
  }
  for (auto& worker : workers_) worker->Join();
  workers_.clear();
  for (const auto& session : sessions_) {
    Log(*session, 0, qrntp_log::kDisconnected, qrntp_log::kDisconnectedText);
    CloseSession(*session);
    session->handler->OnDisconnected(*session->link.socket());
    session->handler.reset();
  }
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.clear();
  }
  discovery_.Close();
}

void QRNTPServer::Worker::Run() {
  server_->SessionLoop(*session);
  session->served = false;
  session.reset();
  running = false;
}

void QRNTPServer::SessionLoop(Session& session) {
  for (;;) {
    bool closed = false;
    if (!SessionPass(session, &closed) || closed) return;
    // With more sessions than workers a worker serves one pass, then moves on.
    if (settings_.session_limit > settings_.worker_count || stop_) return;
    PollFd(session.fd, POLLIN, 10);
  }
}

bool QRNTPServer::SessionPass(Session& session, bool* closed) {
  std::lock_guard<MutexLock> lock(session.link_mutex);
  if (!session.link.IsOpen()) {
    *closed = true;
    return true;
  }
  QRNTPRequestHandler& handler = *session.handler;
  const long call_ms = settings_.call_timeout_ms;
  bool broken = false;
  bool end = false;
  auto serve = [&](const QRNTPLink::Packet& packet) {
    if (packet.header.kind != kQrntpOneWay && packet.header.kind != kQrntpRequest) return;  // stray response
    QRNTPLink::ServeOutcome outcome = session.link.Serve(handler, packet, call_ms, false);
    if (!outcome.handled) {
      Log(session, 2, qrntp_log::kNoFunction, qrntp_log::NoFunctionText(packet.header));
      broken = true;
    } else if (outcome.close_after) {
      end = true;
    }
  };
  // 2. An incoming packet.
  if (!broken && !end && session.link.socket()->IsReadable()) {
    QRNTPLink::Packet packet;
    switch (session.link.Read(settings_.receive_timeout_ms, &packet)) {
      case QRNTPLink::ReadResult::kBroken:
        broken = true;
        break;
      case QRNTPLink::ReadResult::kBadMagic:
        Log(session, 2, qrntp_log::kBadPacket, qrntp_log::BadPacketText(3));
        broken = true;
        break;
      case QRNTPLink::ReadResult::kForeign:
        Log(session, 0, qrntp_log::kDrop, qrntp_log::DropText(packet.header));
        break;
      case QRNTPLink::ReadResult::kOwn:
        serve(packet);
        break;
    }
    session.last_receipt = platform::GetClock().Now();
  }
  // 3. A queued call to the client.
  if (!broken && !end && session.link.IsOpen()) {
    OutboundCall call;
    bool have = false;
    {
      std::lock_guard<std::mutex> lock(session.queue_mutex);
      if (!session.queue.empty()) {
        call = std::move(session.queue.front());
        session.queue.pop_front();
        session.queued_bytes -= QueuedSize(call.function, call.body);
        have = true;
      }
    }
    if (have) {
      std::vector<uint8_t> response;
      // Requests of the client that cross this call are served as they come.
      auto serve_now = [&](QRNTPLink::Packet& packet) {
        serve(packet);
        return !broken && !end;
      };
      QRNTPLink::CallResult result = session.link.Call(call.function, call.call_id, call.body.data(),
                                                       call.body.size(), call.timeout_ms, &response, serve_now);
      if (result == QRNTPLink::CallResult::kOk) {
        handler.OnRawCallResult(call.function, call.call_id, response);
        session.last_receipt = platform::GetClock().Now();
      } else if (!broken && !end) {
        Log(session, 2, qrntp_log::kLinkFailure, qrntp_log::kCallFailedText);
        broken = true;
      }
    }
  }
  const auto now = platform::GetClock().Now();
  // 4. Keep-alive.
  if (!broken && !end && session.keep_alive && session.keep_alive_schedule.Due(settings_, now)) {
    if (!session.link.SendOneWay(kQrntpKeepAlive, nullptr, 0, call_ms)) {
      Log(session, 2, qrntp_log::kLinkFailure, qrntp_log::kKeepAliveFailedText);
      broken = true;
    }
    session.keep_alive_schedule.Sent(settings_, now);
  }
  // 5. Silence.
  if (!broken && !end && MsPassed(session.last_receipt, now, settings_.receive_timeout_ms)) {
    Log(session, 2, qrntp_log::kLinkFailure, qrntp_log::SilenceText(settings_.receive_timeout_ms, 3));
    broken = true;
  }
  if (broken || end) {
    // A handler that asked to close after its answer gets the link closed too.
    CloseSession(session);
    *closed = true;
    return false;
  }
  return true;
}

}  // namespace sorvel
