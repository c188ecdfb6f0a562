#include "discord/rpc_connection.h"

#include <cstring>
#include <limits>

#include "discord/text_copy.h"
#include "platform/clock.h"

namespace mau::discord {

namespace {

constexpr int64_t kNoTimeout = std::numeric_limits<int64_t>::max();

bool IsIncomingOpcode(uint32_t opcode) {
  return opcode == OP_FRAME || opcode == OP_CLOSE || opcode == OP_PING || opcode == OP_PONG;
}

}  // namespace

int64_t MonotonicTicks() {
  const int64_t count = ReadPerformanceCounter();
  const int64_t frequency = ReadPerformanceFrequency();
  return count / frequency * 10000000 + count % frequency * 10000000 / frequency;
}

int32_t WaitMilliseconds(int64_t ticks) {
  if (ticks == kNoTimeout) return -1;
  if (ticks <= 0) return 0;
  const int64_t ms = (ticks + kTicksPerMillisecond - 1) / kTicksPerMillisecond;
  return ms < std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(ms)
                                                  : std::numeric_limits<int32_t>::max();
}

RpcConnection::RpcConnection(const char* application_id) {
  CopyCut(application_id_, application_id != nullptr ? application_id : "");
}

RpcConnection::~RpcConnection() { Close(); }

void RpcConnection::Open() {
  switch (state()) {
    case State::Ready:
      return;
    case State::Closed: {
      const int name = pipe_.Open(next_name_);
      if (name < 0) return;
      name_ = name;
      const size_t length = WriteHandshake(output_ + kFrameHeaderSize, kFramePayloadCapacity,
                                           kHandshakeVersion, application_id_);
      output_begin_ = output_end_ = 0;
      Append(OP_HANDSHAKE, nullptr, length);  // the payload is in place already
      Flush();                                // the state is still Closed: a failure here is silent
      if (!pipe_.IsOpen()) return;
      handshake_sent_at_ = clock_();
      state_.store(State::HandshakeSent, std::memory_order_release);
      return;
    }
    case State::HandshakeSent: {
      for (int n = 0; n < kMessagesPerStep; ++n) {
        const JsonValue* message = Read();
        if (message == nullptr) break;
        if (StringMember(*message, "cmd") == "DISPATCH" &&
            StringMember(*message, "evt") == "READY") {
          next_name_ = name_;
          state_.store(State::Ready, std::memory_order_release);
          if (ConnectedNotification notify = on_connected_.load()) notify();
          return;
        }
      }
      if (state() == State::HandshakeSent &&
          clock_() - handshake_sent_at_ >= kReadyTimeoutMs * kTicksPerMillisecond) {
        Fail(3, "Handshake timed out");
      }
      return;
    }
  }
}

const JsonValue* RpcConnection::Read() {
  const State current = state();
  if (current != State::HandshakeSent && current != State::Ready) return nullptr;
  char* const frame = reinterpret_cast<char*>(&receive_frame_);
  // Pings and pongs count like messages: a peer that floods them must not keep the
  // caller from its other work, such as seeing a stop request.
  int control_frames = 0;
  for (;;) {
    if (pong_pending_ && !QueuePong()) return nullptr;

    if (received_ < kFrameHeaderSize) {
      const long n = pipe_.Receive(frame + received_, kFrameHeaderSize - received_);
      if (n < 0) {
        Fail(1, "Pipe closed");
        return nullptr;
      }
      if (n == 0) return NothingYet();
      if (received_ == 0) frame_started_at_ = clock_();
      received_ += static_cast<size_t>(n);
      if (received_ < kFrameHeaderSize) continue;
      if (receive_frame_.length >= kFramePayloadCapacity ||
          !IsIncomingOpcode(receive_frame_.opcode)) {
        Fail(2, "Bad ipc frame");
        return nullptr;
      }
    }
    const uint32_t length = receive_frame_.length;
    const size_t total = kFrameHeaderSize + length;
    if (received_ < total) {
      const long n = pipe_.Receive(frame + received_, total - received_);
      if (n < 0) {
        Fail(2, "Partial data in frame");
        return nullptr;
      }
      if (n == 0) return NothingYet();
      received_ += static_cast<size_t>(n);
      if (received_ < total) continue;
    }
    received_ = 0;
    partial_seen_.store(0, std::memory_order_relaxed);
    receive_frame_.payload[length] = '\0';

    switch (receive_frame_.opcode) {
      case OP_FRAME:
        ParseMessage(receive_frame_.payload, message_);
        return &message_.root();
      case OP_CLOSE:
        ParseMessage(receive_frame_.payload, message_);
        last_error_code_ = Int32Member(message_.root(), "code").value_or(0);
        CopyCut(last_error_message_, StringMember(message_.root(), "message").value_or(""));
        Close();
        return nullptr;
      case OP_PING:
        receive_frame_.opcode = OP_PONG;
        pong_pending_ = true;
        break;
      default:  // OP_PONG
        break;
    }
    if (++control_frames == kMessagesPerStep) return nullptr;
  }
}

const JsonValue* RpcConnection::NothingYet() {
  partial_seen_.store(received_, std::memory_order_relaxed);
  if (received_ != 0 &&
      clock_() - frame_started_at_ >= kPartialFrameTimeoutMs * kTicksPerMillisecond) {
    Fail(2, "Partial data in frame");
  }
  return nullptr;
}

bool RpcConnection::QueuePong() {
  if (!Append(OP_PONG, receive_frame_.payload, receive_frame_.length)) return false;
  pong_pending_ = false;
  Flush();
  return state() != State::Closed;
}

RpcConnection::WriteResult RpcConnection::Write(const char* bytes, size_t length) {
  if (length > kFramePayloadCapacity || state() == State::Closed) return WriteResult::Failed;
  if (!Append(OP_FRAME, bytes, length)) return WriteResult::Busy;
  Flush();
  return state() == State::Closed ? WriteResult::Failed : WriteResult::Queued;
}

bool RpcConnection::Append(uint32_t opcode, const char* payload, size_t length) {
  const size_t size = kFrameHeaderSize + length;
  if (kOutputCapacity - output_end_ < size && output_begin_ != 0) {
    std::memmove(output_, output_ + output_begin_, output_end_ - output_begin_);
    output_end_ -= output_begin_;
    output_begin_ = 0;
  }
  if (kOutputCapacity - output_end_ < size) return false;
  if (output_begin_ == output_end_) output_progress_at_ = clock_();
  const uint32_t header[2] = {opcode, static_cast<uint32_t>(length)};
  std::memcpy(output_ + output_end_, header, kFrameHeaderSize);
  if (payload != nullptr && length != 0) {
    std::memcpy(output_ + output_end_ + kFrameHeaderSize, payload, length);
  }
  output_end_ += size;
  return true;
}

void RpcConnection::Flush() {
  while (output_begin_ < output_end_) {
    const long n = pipe_.Send(output_ + output_begin_, output_end_ - output_begin_);
    if (n < 0) {  // a failed write sets no code or message of its own
      Close();
      return;
    }
    if (n == 0) break;
    output_begin_ += static_cast<size_t>(n);
    output_progress_at_ = clock_();
  }
  if (output_begin_ == output_end_) {
    output_begin_ = output_end_ = 0;
  } else if (clock_() - output_progress_at_ >= kWriteTimeoutMs * kTicksPerMillisecond) {
    Fail(3, "Write timed out");
    return;
  }
  output_seen_.store(output_end_ - output_begin_, std::memory_order_relaxed);
}

int64_t RpcConnection::NextTimeout() const {
  int64_t next = kNoTimeout;
  auto consider = [&next](int64_t since, int64_t timeout_ms) {
    const int64_t due = since + timeout_ms * kTicksPerMillisecond;
    if (due < next) next = due;
  };
  if (state() == State::HandshakeSent) consider(handshake_sent_at_, kReadyTimeoutMs);
  if (received_ != 0) consider(frame_started_at_, kPartialFrameTimeoutMs);
  if (output_begin_ != output_end_) consider(output_progress_at_, kWriteTimeoutMs);
  return next;
}

void RpcConnection::Wait(IpcWakeup& wakeup, int32_t timeout_ms) {
  const int64_t next = NextTimeout();
  if (next != kNoTimeout) {
    const int32_t due_ms = WaitMilliseconds(next - clock_());
    if (timeout_ms < 0 || due_ms < timeout_ms) timeout_ms = due_ms;
  }
  // While a pong waits for room, nothing more is read: the wait is for writability.
  const bool want_read = state() != State::Closed && !pong_pending_;
  pipe_.Wait(wakeup, want_read, output_begin_ != output_end_, timeout_ms);
}

void RpcConnection::Close() {
  const State current = state();
  // A name whose handshake failed goes last at the next attempt: a silent or broken
  // listener must not hide a working Discord on another name.
  if (current == State::HandshakeSent) next_name_ = name_ + 1;
  if (current == State::HandshakeSent || current == State::Ready) {
    if (ClosedNotification notify = on_closed_.load())
      notify(last_error_code_, last_error_message_);
  }
  pipe_.Close();
  state_.store(State::Closed, std::memory_order_release);
  received_ = 0;
  pong_pending_ = false;
  output_begin_ = output_end_ = 0;
  partial_seen_.store(0, std::memory_order_relaxed);
  output_seen_.store(0, std::memory_order_relaxed);
}

void RpcConnection::Fail(int32_t code, const char* message) {
  last_error_code_ = code;
  CopyCut(last_error_message_, message);
  Close();
}

}  // namespace mau::discord
