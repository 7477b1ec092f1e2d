// One end of a QRNTP link: the connected socket, the link's subsystem and its
// packet filters, with the packet exchanges the client and the server share,
// and the request handler interface of a link.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "native_common/param_set.h"
#include "native_common/qrntp_packet.h"
#include "native_common/tcp_socket.h"

namespace sorvel {

// Serves the requests that the peer of one link sends and receives the
// results of calls made on the link. The defaults handle nothing.
class QRNTPRequestHandler {
 public:
  virtual ~QRNTPRequestHandler() = default;
  virtual void OnConnected(TcpSocket& socket);
  virtual void OnDisconnected(TcpSocket& socket);
  // Named-value form; true when the function was handled. `close_after` asks
  // for the link to be closed once the answer was sent.
  virtual bool HandleRequest(const std::string& function, uint32_t call_id, const ParamSet& input, ParamSet* output,
                             bool* close_after);
  // Raw form; the default parses the input as a ParamSet, calls the named-value
  // form and serialises its output.
  virtual bool HandleRawRequest(const std::string& function, uint32_t call_id, const std::vector<uint8_t>& input,
                                std::vector<uint8_t>* output, bool* close_after);
  virtual void OnReplied(const std::string& function, uint32_t call_id, bool handled, bool sent);
  // Result of a call that the server queued (QRNTPServer::QueueCall); the raw
  // form's default parses the response and calls the named-value form.
  virtual void OnCallResult(const std::string& function, uint32_t call_id, const ParamSet& response);
  virtual void OnRawCallResult(const std::string& function, uint32_t call_id, const std::vector<uint8_t>& response);
};

// A handler that handles nothing.
QRNTPRequestHandler& DefaultRequestHandler();

// Not locked: the owner holds its link mutex around every use, except where
// a member says otherwise.
class QRNTPLink {
 public:
  struct Packet {
    QRNTPHeader header;
    std::vector<uint8_t> body;
  };

  enum class ReadResult { kOwn, kForeign, kBadMagic, kBroken };
  enum class CallResult { kOk, kNoSocket, kSendFailed, kBadMagic, kFailed, kSilent, kAbandoned };

  // How a call waits for its answer besides its overall time-out.
  struct CallWait {
    // Above 0: the call fails (kSilent) when no byte arrives for this long,
    // however long the call may take in all; a peer that is busy keeps the
    // call going by sending keep-alives.
    long silence_ms = 0;
    // Set: the silence limit holds only once this is true; the call sets it
    // when a keep-alive of the peer arrives. A peer that never sends any while
    // busy is waited for as long as the call's own time-out.
    bool* peer_keeps_alive = nullptr;
    // Asked every kWaitSliceMs while the call waits; true gives the call up
    // (kAbandoned) unless its answer comes within `abandon_grace_ms` more. A
    // call given up leaves the link out of step: it must be closed.
    std::function<bool()> abandon;
    long abandon_grace_ms = 0;
  };
  static constexpr long kWaitSliceMs = 100;

  explicit QRNTPLink(std::string subsystem) : subsystem_(std::move(subsystem)) {}

  const std::string& subsystem() const { return subsystem_; }
  TcpSocket* socket() const { return socket_.get(); }
  bool IsOpen() const { return socket_ && socket_->IsOpen(); }
  void Attach(std::unique_ptr<TcpSocket> socket) {
    DropPending();
    socket_ = std::move(socket);
  }
  std::unique_ptr<TcpSocket> Detach() {
    DropPending();
    return std::move(socket_);
  }

  // Every send of the link takes this lock (nullptr: none), so that another
  // thread may send keep-alives while a call waits without mixing packets.
  void SetSendLock(std::mutex* lock) { send_lock_ = lock; }

  // Bytes read off the socket ahead of their reader, while the thread that
  // reads the link is busy elsewhere: every read takes them first, so the
  // stream stays in order. Drain reads what is waiting (never more than
  // kPendingLimit held) and returns how many bytes it added; it may run on
  // another thread than the reader's, but never at the same time as any other
  // use of the link (the owner orders them with a lock of its own), and the
  // socket must stay open meanwhile.
  static constexpr size_t kPendingLimit = 4 * 65536;
  size_t Drain();
  size_t TakePending(uint8_t* buffer, size_t length);
  bool HasPending() const;

  // Installs clones of the filters (nullptr: none).
  void SetFilters(const PacketFilter* send, const PacketFilter* receive);

  // Builds one packet with a clone of the send filter and sends it with
  // time-out `ms`; true only when every byte went out. A body over the limit
  // is refused.
  bool Send(const QRNTPHeader& header, const uint8_t* body, size_t body_length, long ms);
  bool Send(const QRNTPHeader& header, const std::vector<uint8_t>& body, long ms) {
    return Send(header, body.data(), body.size(), ms);
  }

  // A one-way packet (kind 0, id 0, subsystem "SUBSYSTEM.") such as the
  // keep-alive, sent as Send does.
  bool SendOneWay(std::string_view function, const uint8_t* body, size_t body_length, long ms) {
    return Send(QRNTPHeader::Make(kQrntpOneWaySubsystem, function, kQrntpOneWay, 0), body, body_length, ms);
  }

  // Reads one packet, header and body each within `ms`. kBadMagic: wrong magic;
  // kBroken: short read, error or a TotalLength below the header size. The body
  // of a packet of another subsystem is read and dropped (kForeign) so that the
  // stream stays in step.
  ReadResult Read(long ms, Packet* packet);

  // The same reading over any byte source: `receive` fills exactly `length`
  // bytes or fails. Used by Read and by the fuzz target of the reader.
  using ReceiveExact = std::function<bool(uint8_t* buffer, size_t length)>;
  static ReadResult ReadFrom(const ReceiveExact& receive, const std::string& subsystem,
                             const PacketFilter* receive_filter, Packet* packet);

  // Sends a request (kind 1) and waits up to `ms` in all for its answer: a
  // packet of the own subsystem with the called function that is a response
  // with the call's id, or a one-way packet with id 0 (the daemon's form).
  // Other packets are passed over, except requests of the peer: they go to
  // `on_request` as they arrive, so that both ends may call each other at once
  // without each waiting for the other's answer until the time-out.
  // `on_request` returns false when the link is to end (the call then fails).
  using RequestSink = std::function<bool(Packet& request)>;
  CallResult Call(std::string_view function, uint32_t call_id, const uint8_t* request, size_t request_length, long ms,
                  std::vector<uint8_t>* response, const RequestSink& on_request, const CallWait& wait);
  CallResult Call(std::string_view function, uint32_t call_id, const uint8_t* request, size_t request_length, long ms,
                  std::vector<uint8_t>* response, const RequestSink& on_request) {
    return Call(function, call_id, request, request_length, ms, response, on_request, CallWait());
  }

  struct ServeOutcome {
    bool handled = false;
    bool sent = false;
    bool close_after = false;
  };
  // Runs a request of the peer through `handler` and sends the response
  // (kind 2, same function and id) when handled or when `answer_refused`;
  // OnReplied follows only when a response was due (a refused request that
  // gets no answer has no reply to report).
  ServeOutcome Serve(QRNTPRequestHandler& handler, const Packet& request, long ms, bool answer_refused);

  // A log entry carrying the socket's addresses.
  QRNTPLogEntry LogEntry(int level, uint32_t code, std::string message) const;

 private:
  void DropPending();
  // Reads exactly `length` bytes, the pending ones first, each socket read within `ms`.
  bool ReceiveWithin(uint8_t* buffer, size_t length, long ms);

  std::string subsystem_;
  std::unique_ptr<TcpSocket> socket_;
  std::mutex* send_lock_ = nullptr;
  std::vector<uint8_t> pending_;
  size_t pending_start_ = 0;
  std::unique_ptr<PacketFilter> send_filter_;
  std::unique_ptr<PacketFilter> receive_filter_;
};

}  // namespace sorvel
