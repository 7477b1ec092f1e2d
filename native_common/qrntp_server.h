// The server end of QRNTP links: listens on a TCP port, keeps one session per
// accepted connection, serves sessions with a pool of worker threads, lets its
// owner queue calls to connected clients, keeps links alive, drops silent
// ones and answers host discovery on UDP at the same port.
//
// Events (log lines, one request handler per connection) come from a
// QRNTPServerEvents object given at construction, which must outlive the
// server. All threads are joined by Stop() and by the destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "native_common/mutex_lock.h"
#include "native_common/param_set.h"
#include "native_common/qrntp_link.h"
#include "native_common/thread_base.h"
#include "native_common/transport_settings.h"
#include "native_common/udp_socket.h"

namespace sorvel {

class QRNTPServerEvents : public QRNTPLogSink {
 public:
  // A new request handler for an accepted connection; the default handles
  // nothing.
  virtual std::unique_ptr<QRNTPRequestHandler> CreateHandler();
};

class QRNTPServer {
 public:
  // A writer of QueueCall waits while a session's queue holds more than this.
  static constexpr size_t kQueueLimit = 102399;

  explicit QRNTPServer(std::string subsystem, QRNTPServerEvents* events = nullptr);
  ~QRNTPServer();
  QRNTPServer(const QRNTPServer&) = delete;
  QRNTPServer& operator=(const QRNTPServer&) = delete;

  // Settings can change only while the server is stopped (false otherwise).
  bool SetSettings(const TransportSettings& settings) {
    if (IsRunning()) return false;
    settings_ = settings;
    return true;
  }
  const TransportSettings& settings() const { return settings_; }

  // Listens on `port` (0: any free port) with backlog 512 and starts the server
  // thread. False, with nothing started, when listening failed or the server
  // already runs.
  bool Start(uint16_t port);
  // Stops the server thread, closes every session and joins the workers.
  void Stop();
  bool IsRunning() const { return thread_.IsStarted(); }
  // The listening port (host byte order).
  uint16_t port() const { return port_; }
  size_t SessionCount() const;

  // Queues a call to the client of the session whose socket is `socket`, or to
  // every session when it is nullptr; the call is made by the session's worker
  // and its result goes to the session's handler. Whether any session took it.
  bool QueueCall(const TcpSocket* socket, std::string_view function, uint32_t call_id,
                 const std::vector<uint8_t>& body);
  bool QueueCall(const TcpSocket* socket, std::string_view function, uint32_t call_id, const ParamSet& body);

  // Replaces the filters (with clones) / sets the keep-alive switch of the
  // matching sessions (all when `socket` is nullptr).
  void SetSessionFilters(const TcpSocket* socket, const PacketFilter* send, const PacketFilter* receive);
  void SetSessionKeepAlive(const TcpSocket* socket, bool on);

 private:
  struct OutboundCall {
    std::string function;
    uint32_t call_id = 0;
    std::vector<uint8_t> body;
    long timeout_ms = 0;
  };

  struct Session {
    explicit Session(const std::string& subsystem) : link(subsystem) {}
    MutexLock link_mutex;  // guards the link (socket and filters)
    QRNTPLink link;
    std::unique_ptr<QRNTPRequestHandler> handler;
    std::mutex queue_mutex;  // guards the outbound queue
    std::deque<OutboundCall> queue;
    size_t queued_bytes = 0;
    // Handed between the server thread and one worker through `served`.
    KeepAliveSchedule keep_alive_schedule;
    platform::Clock::TimePoint last_receipt{};
    std::atomic<bool> keep_alive{false};
    std::atomic<bool> served{false};
    std::atomic<bool> closed{false};
    std::atomic<int> fd{-1};  // the open socket's descriptor, for waits and wake-ups
    std::mutex fd_mutex;      // held while that descriptor is closed or shut down
  };

  class Worker : public ThreadBase {
   public:
    explicit Worker(QRNTPServer* server) : server_(server) {}
    ~Worker() override { Join(); }
    std::shared_ptr<Session> session;
    std::atomic<bool> running{false};

   protected:
    void Run() override;

   private:
    QRNTPServer* server_;
  };

  class ServerThread : public ThreadBase {
   public:
    explicit ServerThread(QRNTPServer* server) : server_(server) {}
    ~ServerThread() override { Join(); }

   protected:
    void Run() override { server_->ServerLoop(); }

   private:
    QRNTPServer* server_;
  };

  void ServerLoop();
  void SessionLoop(Session& session);
  // One pass of a worker over its session; false when the link broke or closed.
  bool SessionPass(Session& session, bool* closed);
  void AcceptPending();
  void AnswerDiscovery();
  void CloseSession(Session& session);
  void Log(Session& session, int level, uint32_t code, std::string message);
  std::vector<std::shared_ptr<Session>> Matching(const TcpSocket* socket);

  std::string subsystem_;
  QRNTPServerEvents* events_;
  TransportSettings settings_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  TcpSocket listener_;
  UdpSocket discovery_;
  mutable std::mutex sessions_mutex_;  // guards the list; only the server thread changes it
  std::vector<std::shared_ptr<Session>> sessions_;
  std::vector<std::unique_ptr<Worker>> workers_;
  ServerThread thread_{this};  // last: joined before everything else goes away
};

}  // namespace sorvel
