#include "discord/rpc_connection.h"

#include <cstring>

#include "discord/text_copy.h"

namespace mau::discord {

RpcConnection::RpcConnection(const char* application_id) {
  CopyCut(application_id_, application_id != nullptr ? application_id : "");
}

RpcConnection::~RpcConnection() { Close(); }

void RpcConnection::Open() {
  switch (state()) {
    case State::Ready:
      return;
    case State::Closed: {
      if (!pipe_.Open()) return;
      const size_t length = WriteHandshake(send_frame_.payload, kFramePayloadCapacity,
                                           kHandshakeVersion, application_id_);
      send_frame_.opcode = OP_HANDSHAKE;
      send_frame_.length = static_cast<uint32_t>(length);
      if (WriteFrame(send_frame_)) {
        state_.store(State::HandshakeSent, std::memory_order_release);
      } else {
        Close();
      }
      return;
    }
    case State::HandshakeSent: {
      const JsonValue* message = Read();
      if (message == nullptr) return;
      if (StringMember(*message, "cmd") == "DISPATCH" && StringMember(*message, "evt") == "READY") {
        state_.store(State::Ready, std::memory_order_release);
        if (ConnectedNotification notify = on_connected_.load()) notify();
      }
      return;
    }
  }
}

const JsonValue* RpcConnection::Read() {
  const State current = state();
  if (current != State::HandshakeSent && current != State::Ready) return nullptr;
  for (;;) {
    if (!pipe_.Read(&receive_frame_, kFrameHeaderSize)) {
      if (!pipe_.IsOpen()) Fail(1, "Pipe closed");
      return nullptr;
    }
    const uint32_t length = receive_frame_.length;
    if (length >= kFramePayloadCapacity) {
      Fail(2, "Bad ipc frame");
      return nullptr;
    }
    if (length != 0 && !pipe_.Read(receive_frame_.payload, length)) {
      Fail(2, "Partial data in frame");
      return nullptr;
    }
    receive_frame_.payload[length] = '\0';

    switch (receive_frame_.opcode) {
      case OP_FRAME:
        ParseMessage(receive_frame_.payload, message_);
        return &message_.root();
      case OP_CLOSE: {
        ParseMessage(receive_frame_.payload, message_);
        last_error_code_ = Int32Member(message_.root(), "code").value_or(0);
        CopyCut(last_error_message_, StringMember(message_.root(), "message").value_or(""));
        Close();
        return nullptr;
      }
      case OP_PING:
        receive_frame_.opcode = OP_PONG;
        if (!WriteFrame(receive_frame_)) Close();
        continue;
      case OP_PONG:
        continue;
      default:
        Fail(2, "Bad ipc frame");
        return nullptr;
    }
  }
}

bool RpcConnection::Write(const char* bytes, size_t length) {
  if (length > kFramePayloadCapacity) return false;
  if (length != 0) std::memcpy(send_frame_.payload, bytes, length);
  send_frame_.opcode = OP_FRAME;
  send_frame_.length = static_cast<uint32_t>(length);
  if (WriteFrame(send_frame_)) return true;
  Close();
  return false;
}

void RpcConnection::Close() {
  const State current = state();
  if (current == State::HandshakeSent || current == State::Ready) {
    if (ClosedNotification notify = on_closed_.load())
      notify(last_error_code_, last_error_message_);
  }
  pipe_.Close();
  state_.store(State::Closed, std::memory_order_release);
}

void RpcConnection::Fail(int32_t code, const char* message) {
  last_error_code_ = code;
  CopyCut(last_error_message_, message);
  Close();
}

bool RpcConnection::WriteFrame(const IpcFrame& frame) {
  return pipe_.Write(&frame, kFrameHeaderSize + frame.length);
}

}  // namespace mau::discord
