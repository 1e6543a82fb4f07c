#include "platform/sway_ipc_linux.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

// sway's IPC as kvusb-mirror --extend speaks it: the framing, and what it reads of the
// replies (which carry much more than it reads).

namespace {

// Two outputs as sway 1.7 describes them: modes and the current mode have widths and heights
// of their own, which must not be taken for the output's place.
constexpr char kOutputs[] = R"([
  { "id": 3, "type": "output", "name": "DP-1", "active": true,
    "rect": { "x": 0, "y": 0, "width": 1920, "height": 1080 },
    "modes": [ { "width": 1920, "height": 1080, "refresh": 60000 },
               { "width": 800, "height": 600, "refresh": 60000 } ],
    "current_mode": { "width": 1920, "height": 1080, "refresh": 60000 },
    "make": "Gloam \"Pro\"", "focused": true },
  { "id": 9, "type": "output", "name": "HEADLESS-2", "active": false,
    "rect": { "x": 1920, "y": 0, "width": 854, "height": 480 }, "modes": [] }
])";

TEST(SwayIpc, OutputsAreReadWithTheirPlaceAndState) {
    std::vector<SwayOutput> outputs = ParseSwayOutputs(kOutputs);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].name, "DP-1");
    EXPECT_TRUE(outputs[0].active);
    EXPECT_EQ(outputs[0].width, 1920);
    EXPECT_EQ(outputs[0].height, 1080);
    EXPECT_EQ(outputs[1].name, "HEADLESS-2");
    EXPECT_FALSE(outputs[1].active);
    EXPECT_EQ(outputs[1].x, 1920);
    EXPECT_EQ(outputs[1].width, 854);
    EXPECT_TRUE(ParseSwayOutputs("").empty());
    EXPECT_TRUE(ParseSwayOutputs("{\"error\": \"no\"}").empty());
    EXPECT_TRUE(ParseSwayOutputs("[ {\"name\": \"cut").empty());
}

TEST(SwayIpc, CommandsSucceedOnlyWhenEveryOneDid) {
    EXPECT_TRUE(SwayCommandsSucceeded(" [ { \"success\": true } ]"));
    EXPECT_TRUE(SwayCommandsSucceeded("[{\"success\":true},{\"success\":true}]"));
    EXPECT_FALSE(SwayCommandsSucceeded(
        "[{\"success\":true},{\"success\":false,\"parse_error\":true,\"error\":\"x\"}]"));
    EXPECT_FALSE(SwayCommandsSucceeded("[]"));
    EXPECT_FALSE(SwayCommandsSucceeded("[{\"error\": \"success\"}]"));
    EXPECT_FALSE(SwayCommandsSucceeded(""));
}

TEST(SwayIpc, VersionNeedsBothNumbers) {
    int major = 0;
    int minor = 0;
    EXPECT_TRUE(ParseSwayVersion(
        R"({"human_readable": "1.8.1", "variant": "sway", "major": 1, "minor": 8, "patch": 1})",
        &major, &minor));
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 8);
    EXPECT_FALSE(ParseSwayVersion(R"({"major": 1})", &major, &minor));
    EXPECT_FALSE(ParseSwayVersion("[]", &major, &minor));
}

// Replies that are not one whole JSON value are refused, and the parse returns.
TEST(SwayIpc, MalformedRepliesAreRefused) {
    int major = 7;
    int minor = 7;
    EXPECT_FALSE(ParseSwayVersion(R"({"a"} x)", &major, &minor));  // no colon, text after
    EXPECT_FALSE(ParseSwayVersion(R"({"major": 1, "minor": 8} x)", &major, &minor));
    EXPECT_FALSE(ParseSwayVersion(R"({"major": "1", "minor": 8})", &major, &minor));
    EXPECT_EQ(major, 7);
    EXPECT_EQ(minor, 7);
    EXPECT_TRUE(ParseSwayOutputs(R"([{"name": "DP-1"}] [])").empty());
    EXPECT_FALSE(SwayCommandsSucceeded(R"([{"success": true}] ])"));
    EXPECT_FALSE(SwayCommandsSucceeded(R"([{"success": "true"}])"));
}

// A compositor of one exchange on a socket of the test's own.
class FakeSway {
  public:
    explicit FakeSway(std::string reply) : m_reply(std::move(reply)) {
        m_path = (std::filesystem::temp_directory_path() /
                  ("kvusb-sway-" + std::to_string(getpid()) + ".sock"))
                     .string();
        unlink(m_path.c_str());
        m_listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, m_path.c_str());
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 1);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeSway() {
        m_thread.join();
        close(m_listener);
        unlink(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }
    const std::string& Received() const { return m_received; }

  private:
    void Serve() {
        int client = accept(m_listener, nullptr, nullptr);
        char header[14];
        if (read(client, header, sizeof header) == sizeof header) {
            uint32_t length = 0;
            std::memcpy(&length, header + 6, sizeof length);
            m_received.assign(header, sizeof header);
            std::string payload(length, '\0');
            if (length == 0 || read(client, payload.data(), length) == length) {
                m_received += payload;
            }
            std::string answer = SwayIpcMessage(SWAY_IPC_RUN_COMMAND, m_reply);
            // In two parts, as a busy socket may deliver it.
            write(client, answer.data(), 5);
            usleep(20000);
            write(client, answer.data() + 5, answer.size() - 5);
        }
        close(client);
    }

    std::string m_reply;
    std::string m_path;
    int m_listener = -1;
    std::string m_received;
    std::thread m_thread;
};

TEST(SwayIpc, AnExchangeIsFramedBothWays) {
    std::string reply;
    {
        FakeSway sway("[{\"success\":true}]");
        ASSERT_TRUE(SwayIpcExchange(sway.Path(), SWAY_IPC_RUN_COMMAND, "create_output", &reply));
        std::string expected("i3-ipc\x0d\0\0\0\0\0\0\0create_output", 27);
        EXPECT_EQ(sway.Received(), expected);
    }
    EXPECT_EQ(reply, "[{\"success\":true}]");
    EXPECT_FALSE(SwayIpcExchange("/nonexistent/sway-ipc.sock", SWAY_IPC_GET_OUTPUTS, "", &reply));
}

}  // namespace
