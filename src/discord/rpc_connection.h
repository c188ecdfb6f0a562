// The framed RPC protocol over one IpcConnection: the handshake, the wait for READY,
// reading and answering frames, writing command frames, and turning every failure into a
// closed connection with a code and a message.
//
//   RpcConnection connection("901274638105567233");
//   connection.Open();                       // pipe + handshake: HandshakeSent
//   connection.Open();                       // READY read: Ready
//   while (const JsonValue* message = connection.Read()) Handle(*message);
//   connection.Write(command, length);
//
// Threads: used by one thread at a time (the client's I/O thread, or its owner while that
// thread is not running). state() and the notification setters may be used from any
// thread. Holds no locks.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "discord/ipc_connection.h"
#include "discord/rpc_messages.h"

namespace mau::discord {

// Frame opcodes, the first word of every frame.
enum IpcOpcode : uint32_t {
  OP_HANDSHAKE = 0,  // client to Discord: first frame after opening the pipe
  OP_FRAME = 1,      // both ways: a JSON command, reply or event
  OP_CLOSE = 2,      // Discord to client: the connection ends; payload has "code", "message"
  OP_PING = 3,       // Discord to client: answer with OP_PONG and the same payload
  OP_PONG = 4,       // both ways: answer to a ping; ignored when received
};

inline constexpr size_t kFrameSize = 64 * 1024;
inline constexpr size_t kFrameHeaderSize = 8;
inline constexpr size_t kFramePayloadCapacity = kFrameSize - kFrameHeaderSize;

// A frame as it travels: opcode and payload length (little-endian), then the payload
// (no terminating NUL on the wire).
struct IpcFrame {
  uint32_t opcode;
  uint32_t length;
  char payload[kFramePayloadCapacity];
};
static_assert(sizeof(IpcFrame) == kFrameSize);
static_assert(std::endian::native == std::endian::little,
              "frames are written as they lie in memory");

class RpcConnection {
 public:
  enum class State : uint8_t { Closed, HandshakeSent, Ready };

  // Called on the thread that drives the connection. `message` is valid during the call.
  using ConnectedNotification = void (*)();
  using ClosedNotification = void (*)(int32_t code, const char* message);

  static constexpr size_t kApplicationIdCapacity = 64;
  static constexpr size_t kErrorMessageCapacity = 256;

  // Keeps at most 63 bytes of the id. The connection starts Closed.
  explicit RpcConnection(const char* application_id);
  ~RpcConnection();  // as Close
  RpcConnection(const RpcConnection&) = delete;
  RpcConnection& operator=(const RpcConnection&) = delete;

  void set_on_connected(ConnectedNotification notification) { on_connected_ = notification; }
  void set_on_closed(ClosedNotification notification) { on_closed_ = notification; }

  // One step toward Ready. Closed: open the pipe and write the handshake (HandshakeSent);
  // failing to find the pipe or to write is silent. HandshakeSent: read one message; a
  // DISPATCH/READY makes the connection Ready and calls on_connected. Ready: nothing.
  void Open();

  // The next JSON message, answering pings on the way; nullptr when nothing complete is
  // waiting or when the connection failed (then it is Closed and on_closed was called).
  // The message refers into the receive buffer and stays valid until the next Read,
  // Open or Close.
  [[nodiscard]] const JsonValue* Read();

  // Sends `bytes` as one OP_FRAME frame. A failed write closes the connection (reporting
  // the last error as it stands). Refuses, without closing, a command longer than a frame.
  [[nodiscard]] bool Write(const char* bytes, size_t length);

  // Reports through on_closed when the connection was HandshakeSent or Ready, then closes
  // the pipe. The state is Closed afterwards.
  void Close();

  State state() const { return state_.load(std::memory_order_acquire); }
  int32_t last_error_code() const { return last_error_code_; }
  const char* last_error_message() const { return last_error_message_; }
  const char* application_id() const { return application_id_; }

 private:
  void Fail(int32_t code, const char* message);
  bool WriteFrame(const IpcFrame& frame);

  IpcConnection pipe_;
  std::atomic<State> state_{State::Closed};
  std::atomic<ConnectedNotification> on_connected_{nullptr};
  std::atomic<ClosedNotification> on_closed_{nullptr};
  char application_id_[kApplicationIdCapacity] = {};
  int32_t last_error_code_ = 0;
  char last_error_message_[kErrorMessageCapacity] = {};
  IpcFrame send_frame_;
  // Payloads are parsed in place, so a received payload needs room for a NUL after it:
  // frames longer than kFramePayloadCapacity - 1 are refused.
  IpcFrame receive_frame_;
  RpcMessage message_;
};

}  // namespace mau::discord
