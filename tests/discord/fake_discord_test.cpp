// The Discord stand-in answers as Discord does: other tests and the end-to-end tests rely
// on its validation and its faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discord/rpc_connection.h"
#include "fake_discord_core.h"
#include "ipc_test_support.h"

namespace mau::discord {
namespace {

using fake_discord::FakeDiscord;
using fake_discord::FakeDiscordOptions;
using std::chrono::seconds;

class FakeDiscordTest : public ::testing::Test {
 protected:
  void Start(FakeDiscordOptions options = {}) {
    options.directory = ipc_.path();
    discord_ = std::make_unique<FakeDiscord>(std::move(options));
    std::string error;
    ASSERT_TRUE(discord_->Start(&error)) << error;
  }

  // Connects a client connection step by step until it is Ready.
  void Connect() {
    connection_->Open();
    ASSERT_TRUE(discord_->WaitForReady(discord_->connection_count(), seconds(10)));
    ASSERT_TRUE(test::WaitUntil([&] {
      connection_->Open();
      return connection_->state() == RpcConnection::State::Ready;
    }));
  }

  // Sends one command and waits for the answer that carries its nonce.
  std::string Ask(const std::string& command) {
    EXPECT_EQ(connection_->Write(command.data(), command.size()),
              RpcConnection::WriteResult::Queued);
    std::string answer;
    test::WaitUntil([&] {
      const JsonValue* message = connection_->Read();
      if (message == nullptr) return false;
      const JsonValue* data = ObjectMember(*message, "data");
      answer = std::string(StringMember(*message, "evt").value_or("null")) + " " +
               std::string(data != nullptr ? StringMember(*data, "message").value_or("") : "");
      return true;
    });
    return answer;
  }

  test::PrivateIpcDirectory ipc_;
  std::unique_ptr<FakeDiscord> discord_;
  std::unique_ptr<RpcConnection> connection_ = std::make_unique<RpcConnection>("123");
};

std::string SetActivity(const std::string& activity) {
  return R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":42,"activity":)" + activity + "}}";
}

TEST_F(FakeDiscordTest, ValidatesActivitiesAsDiscordDoes) {
  Start();
  Connect();
  const std::string e_acute = "\xC3\xA9";
  std::string accented_128;
  for (int i = 0; i < 128; ++i) accented_128 += e_acute;
  const struct {
    const char* name;
    std::string command;
    std::string answer;
  } cases[] = {
      {"valid", SetActivity(R"({"state":"In game","instance":false})"), "null "},
      {"128 two-byte characters", SetActivity(R"({"details":")" + accented_128 + R"("})"), "null "},
      {"state of 129 characters", SetActivity(R"({"state":")" + std::string(129, 's') + R"("})"),
       R"(ERROR "activity.state" must be at most 128 characters)"},
      {"large text of 129 characters",
       SetActivity(R"({"assets":{"large_text":")" + std::string(129, 't') + R"("}})"),
       R"(ERROR "activity.assets.large_text" must be at most 128 characters)"},
      {"invalid UTF-8", SetActivity("{\"details\":\"\xC3(\"}"),
       R"(ERROR "activity.details" is not valid UTF-8)"},
      {"encoded surrogate", SetActivity("{\"state\":\"\xED\xA0\x80\"}"),
       R"(ERROR "activity.state" is not valid UTF-8)"},
      {"unknown command", R"({"nonce":"1","cmd":"FLY"})", "ERROR Invalid command: FLY"},
      {"unknown event", R"({"nonce":"1","cmd":"SUBSCRIBE","evt":"NOPE"})",
       "ERROR Invalid event: NOPE"},
      {"deep nesting", SetActivity(std::string(30000, '[') + std::string(30000, ']')),
       "ERROR Payload is not a JSON object of sane depth"},
      {"a command cut in the middle", SetActivity(R"({"state":"In ga)"),
       "ERROR Payload is not a JSON object of sane depth"},
      {"two characters", SetActivity(R"({"state":"Qi","assets":{"large_text":"\u5854!"}})"),
       "null "},
      {"one character", SetActivity(R"({"state":"Q"})"),
       R"(ERROR "activity.state" must be at least 2 characters)"},
      {"one CJK character", SetActivity("{\"assets\":{\"small_text\":\"\xE5\xA1\x94\"}}"),
       R"(ERROR "activity.assets.small_text" must be at least 2 characters)"},
      {"empty details", SetActivity(R"({"details":""})"),
       R"(ERROR "activity.details" must be at least 2 characters)"},
      {"a number for a text", SetActivity(R"({"details":12})"),
       R"(ERROR "activity.details" must be a string)"},
      {"image key of 256 characters",
       SetActivity(R"({"assets":{"large_image":")" + std::string(256, 'k') + R"("}})"), "null "},
      {"image key of 257 characters",
       SetActivity(R"({"assets":{"small_image":")" + std::string(257, 'k') + R"("}})"),
       R"(ERROR "activity.assets.small_image" must be at most 256 characters)"},
      {"start at the end of 9999", SetActivity(R"({"timestamps":{"start":253402300799}})"),
       "null "},
      {"start beyond 9999", SetActivity(R"({"timestamps":{"start":253402300800}})"),
       R"(ERROR "activity.timestamps.start" must be a Unix time in seconds between 1970 and 9999)"},
      {"wrapped start", SetActivity(R"({"timestamps":{"start":18446744073709546}})"),
       R"(ERROR "activity.timestamps.start" must be a Unix time in seconds between 1970 and 9999)"},
      {"negative end", SetActivity(R"({"timestamps":{"end":-5}})"),
       R"(ERROR "activity.timestamps.end" must be a Unix time in seconds between 1970 and 9999)"},
      {"fractional start", SetActivity(R"({"timestamps":{"start":1.5}})"),
       R"(ERROR "activity.timestamps.start" must be a Unix time in seconds between 1970 and 9999)"},
      {"invalid UTF-8 in a secret", SetActivity("{\"secrets\":{\"join\":\"\xFF\"}}"),
       R"(ERROR "activity.secrets.join" is not valid UTF-8)"},
      {"invalid UTF-8 in a member name", SetActivity("{\"st\xFFte\":\"In game\"}"),
       R"(ERROR A member name of "activity" is not valid UTF-8)"},
      {"invalid UTF-8 beside the activity",
       "{\"nonce\":\"1\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"ACTIVITY_JOIN\xFF\"}",
       R"(ERROR "evt" is not valid UTF-8)"},
  };
  int refused = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Ask(c.command), c.answer);
    if (c.answer.starts_with("ERROR")) ++refused;
    // The frame as kept carries the refusal too.
    std::optional<fake_discord::ReceivedFrame> frame;
    while ((frame = discord_->WaitForFrame(seconds(10))) && frame->payload != c.command) {
    }
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->error, c.answer.starts_with("ERROR ") ? c.answer.substr(6) : "");
  }
  EXPECT_EQ(discord_->error_reply_count(), refused);
}

TEST_F(FakeDiscordTest, IgnoresActivitiesBeyondTheRateLimitWithASuccessReply) {
  FakeDiscordOptions options;
  options.rate_limit_count = 2;
  options.rate_limit_window = std::chrono::milliseconds(300);
  Start(options);
  Connect();
  const std::string activity = SetActivity(R"({"state":"In game"})");
  for (int n = 0; n < 3; ++n) EXPECT_EQ(Ask(activity), "null ") << n;
  EXPECT_EQ(Ask(SetActivity(R"({"state":")" + std::string(129, 's') + R"("})")),
            R"(ERROR "activity.state" must be at most 128 characters)")
      << "a refused activity is answered as before";
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  EXPECT_EQ(Ask(activity), "null ");

  std::vector<bool> ignored;
  while (auto received = discord_->WaitForActivity(std::chrono::milliseconds(0))) {
    ignored.push_back(received->rate_limited);
  }
  EXPECT_THAT(ignored, ::testing::ElementsAre(false, false, true, false, false));
  // The frames say the same, for --jsonl.
  std::vector<bool> ignored_frames;
  while (auto frame = discord_->WaitForFrame(std::chrono::milliseconds(0))) {
    if (frame->command == "SET_ACTIVITY") ignored_frames.push_back(frame->rate_limited);
  }
  EXPECT_EQ(ignored_frames, ignored);
}

TEST_F(FakeDiscordTest, ClosesAfterTheConfiguredFrame) {
  FakeDiscordOptions options;
  options.close_after = 2;
  options.close_code = 4321;
  options.close_message = "Going away";
  Start(options);
  Connect();
  Ask(SetActivity("{}"));
  EXPECT_TRUE(test::WaitUntil([&] {
    (void)connection_->Read();
    return connection_->state() == RpcConnection::State::Closed;
  }));
  EXPECT_EQ(connection_->last_error_code(), 4321);
  EXPECT_STREQ(connection_->last_error_message(), "Going away");
}

TEST_F(FakeDiscordTest, PingsAreAnsweredByTheClient) {
  FakeDiscordOptions options;
  options.ping_every = 1;
  Start(options);
  Connect();  // the handshake is frame 1: a ping follows READY
  EXPECT_EQ(Ask(SetActivity("{}")), "null ");
  std::optional<fake_discord::ReceivedFrame> frame;
  while ((frame = discord_->WaitForFrame(seconds(10))) && frame->opcode != OP_PONG) {
  }
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->payload, R"({"ping":1})");
}

}  // namespace
}  // namespace mau::discord
