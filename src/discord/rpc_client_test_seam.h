// Test-only access to the process-wide RpcClient: its clocks, its random draw and the
// longest wait of its I/O thread can be replaced, and its state can be read and reset, so
// that tests drive it through Start/Stop cycles and backoff schedules without sleeping.
// Production code never includes this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "discord/rpc_connection.h"

namespace mau::discord::test_seam {

struct ClientHooks {
  // Monotonic time in 100-nanosecond ticks of the back-off and the rate limit (null: the
  // real clock).
  int64_t (*now)() = nullptr;
  // The same for the connection's timeouts: READY, incomplete frames, stalled output
  // (null: the real clock).
  int64_t (*timeout_now)() = nullptr;
  // The backoff's uniform draw from [0.0, 1.0) (null: the seeded generator).
  double (*draw)() = nullptr;
  // Longest wait of the I/O thread between two passes, so that it sees a test clock move
  // (0: it waits only for the channel, its wake-up and its deadlines).
  int32_t pass_interval_ms = 0;
};

// Installs hooks. Only while the client is stopped.
void SetClientHooks(const ClientHooks& hooks);

// Puts a stopped client back as the library load left it: nothing pending, empty
// mailboxes, a fresh backoff whose first attempt is due at once (by the clock hook in
// force), nonce counter at 1, Discord's rate limit. The hooks stay.
void ResetClient();

struct BackoffView {
  int64_t current_ms;
  int32_t attempts;
  int64_t next_attempt;  // in the ticks of the clock hook
};
// The deadline is read first: an attempt counts before its deadline is stored, so a view
// whose deadline has moved on also holds that attempt's count and delay.
BackoffView ReadBackoff();

struct MailboxView {
  bool connected;
  bool disconnected;
  bool error;
  bool join;
  bool spectate;
  int32_t join_requests;
};
MailboxView ReadMailboxes();

// Closed when the client is not running.
RpcConnection::State ConnectionState();

// How many presence commands the client has sent and counted against its rate limit since
// the last ResetClient, re-sends included.
int32_t PresenceSends();

// Bytes waiting in the connection's output buffer because the channel took no more, and
// bytes of an incoming frame still incomplete, as the I/O thread last left them; 0 when
// the client is not running.
size_t OutputPending();
size_t PartialFrameBytes();

// The client's internal Subscribe: queues a SUBSCRIBE command; false when the queue is full.
bool Subscribe(const char* event_name);

}  // namespace mau::discord::test_seam
