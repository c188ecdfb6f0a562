// The framed RPC protocol over one IpcConnection: the handshake, the wait for READY,
// assembling and answering frames, queueing command frames for writing, and turning every
// failure into a closed connection with a code and a message.
//
// Nothing blocks: a frame that arrives in pieces is assembled across calls, output that
// the channel does not take at once waits in the connection's output buffer, and Wait
// returns as soon as there is something to do. Three timeouts end a connection that hangs:
// no READY after the handshake, a frame that stays incomplete, output that makes no
// progress.
//
//   RpcConnection connection("901274638105567233");
//   connection.Open();                       // channel + handshake: HandshakeSent
//   connection.Open();                       // READY read: Ready
//   while (const JsonValue* message = connection.Read()) Handle(*message);
//   connection.Write(command, length);       // Queued, Busy (output full) or Failed
//   connection.Wait(wakeup, 1000);           // until readable, writable, woken or due
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

inline constexpr int64_t kTicksPerMillisecond = 10000;

// Monotonic time in 100-nanosecond ticks: deadlines must not move when someone sets the
// wall clock.
int64_t MonotonicTicks();

// The wait in whole milliseconds, rounded up, until `ticks` from now have passed: 0 for a
// time already reached, -1 (no limit) for INT64_MAX.
int32_t WaitMilliseconds(int64_t ticks);

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
  enum class WriteResult : uint8_t {
    Queued,  // in the output buffer or already with the channel
    Busy,    // the output buffer has no room now: try again once it has drained
    Failed,  // the connection is closed, or the command is longer than a frame
  };

  // Called on the thread that drives the connection. `message` is valid during the call.
  using ConnectedNotification = void (*)();
  using ClosedNotification = void (*)(int32_t code, const char* message);
  // Monotonic time in 100-nanosecond ticks.
  using Clock = int64_t (*)();

  static constexpr size_t kApplicationIdCapacity = 64;
  static constexpr size_t kErrorMessageCapacity = 256;
  // Room for two whole frames: a pong of the largest ping fits beside a command.
  static constexpr size_t kOutputCapacity = 2 * kFrameSize;
  // How long a peer may take to answer the handshake with READY.
  static constexpr int64_t kReadyTimeoutMs = 5000;
  // How long a frame may stay incomplete after its first byte arrived.
  static constexpr int64_t kPartialFrameTimeoutMs = 5000;
  // How long output may wait without the peer taking any of it.
  static constexpr int64_t kWriteTimeoutMs = 10000;
  // Messages handled in one Open or read before others get their turn.
  static constexpr int kMessagesPerStep = 64;

  // Keeps at most 63 bytes of the id. The connection starts Closed.
  explicit RpcConnection(const char* application_id);
  ~RpcConnection();  // as Close
  RpcConnection(const RpcConnection&) = delete;
  RpcConnection& operator=(const RpcConnection&) = delete;

  void set_on_connected(ConnectedNotification notification) { on_connected_ = notification; }
  void set_on_closed(ClosedNotification notification) { on_closed_ = notification; }
  // The clock of the three timeouts (null: MonotonicTicks). Only while nobody drives the
  // connection.
  void set_clock(Clock clock) { clock_ = clock != nullptr ? clock : &MonotonicTicks; }

  // One step toward Ready. Closed: open the channel, starting with the name after one
  // whose handshake failed last time, and queue the handshake (HandshakeSent); failing to
  // find the channel or to write is silent. HandshakeSent: read what has arrived; a
  // DISPATCH/READY makes the connection Ready and calls on_connected; no READY within
  // kReadyTimeoutMs closes it (code 3). Ready: nothing.
  void Open();

  // The next complete JSON message, answering pings on the way; nullptr when no complete
  // message is waiting, after kMessagesPerStep pings and pongs (the rest wait for the next
  // call), or when the connection failed (then it is Closed and on_closed was called). Bytes of an
  // incomplete frame are kept for the next call. The message refers into the receive buffer and
  // stays valid until the next Read, Open or Close.
  [[nodiscard]] const JsonValue* Read();

  // Queues `bytes` as one OP_FRAME frame and hands the channel what it takes now. A failed
  // channel closes the connection (reporting the last error as it stands). A command
  // longer than a frame is refused without closing.
  [[nodiscard]] WriteResult Write(const char* bytes, size_t length);

  // Hands the channel what it takes of the output now; output that has made no progress
  // for kWriteTimeoutMs closes the connection (code 3).
  void Flush();

  // Waits for what the connection needs next (bytes to read, room for its output, or one
  // of its timeouts), for the wake-up, or at most `timeout_ms` (-1: no limit).
  void Wait(IpcWakeup& wakeup, int32_t timeout_ms);

  // Reports through on_closed when the connection was HandshakeSent or Ready, then closes
  // the channel and drops unread and unsent bytes. The state is Closed afterwards.
  void Close();

  State state() const { return state_.load(std::memory_order_acquire); }
  int32_t last_error_code() const { return last_error_code_; }
  const char* last_error_message() const { return last_error_message_; }
  const char* application_id() const { return application_id_; }
  // Bytes queued for the peer and not yet taken by the channel.
  size_t output_pending() const { return output_end_ - output_begin_; }
  // For another thread to look at (tests): output_pending() as the last Flush or Close
  // left it, and the bytes of an incomplete incoming frame as the last Read left them.
  size_t output_pending_seen() const { return output_seen_.load(std::memory_order_relaxed); }
  size_t partial_frame_seen() const { return partial_seen_.load(std::memory_order_relaxed); }

 private:
  void Fail(int32_t code, const char* message);
  // A frame into the output buffer; false when it has no room.
  bool Append(uint32_t opcode, const char* payload, size_t length);
  // The pong for the ping in the receive buffer; false while the output has no room.
  bool QueuePong();
  // Nothing more has arrived: ends a frame that has been incomplete for too long.
  const JsonValue* NothingYet();
  // The earliest moment a timeout falls due; INT64_MAX when none runs.
  int64_t NextTimeout() const;

  IpcConnection pipe_;
  std::atomic<State> state_{State::Closed};
  std::atomic<ConnectedNotification> on_connected_{nullptr};
  std::atomic<ClosedNotification> on_closed_{nullptr};
  Clock clock_ = &MonotonicTicks;
  char application_id_[kApplicationIdCapacity] = {};
  int32_t last_error_code_ = 0;
  char last_error_message_[kErrorMessageCapacity] = {};

  // The channel name of this connection, and the one the next Open tries first.
  int name_ = -1;
  int next_name_ = 0;
  int64_t handshake_sent_at_ = 0;

  // Payloads are parsed in place, so a received payload needs room for a NUL after it:
  // frames longer than kFramePayloadCapacity - 1 are refused.
  IpcFrame receive_frame_;
  size_t received_ = 0;           // bytes of the frame in receive_frame_ so far
  int64_t frame_started_at_ = 0;  // when its first byte was read
  bool pong_pending_ = false;     // receive_frame_ holds a ping still to be answered
  RpcMessage message_;

  char output_[kOutputCapacity];
  size_t output_begin_ = 0;
  size_t output_end_ = 0;
  std::atomic<size_t> output_seen_{0};
  std::atomic<size_t> partial_seen_{0};
  int64_t output_progress_at_ = 0;  // when the channel last took output, or it was queued
};

}  // namespace mau::discord
