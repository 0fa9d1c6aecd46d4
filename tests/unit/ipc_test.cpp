// The message channel from the client's side: which headers it takes for a message.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ipc.h"
#include "testkit.h"

namespace {

using namespace testkit;

class IpcTest : public TempDir, public KernelTest {
  protected:
    IpcTest() {
        const char *pw = getenv("IPC_PW");
        if (pw != nullptr) savedpw = pw;
        Write("pw", "secret");
        setenv("IPC_PW", Path("pw").c_str(), 1);
    }
    ~IpcTest() override {
        RaisesError([] { DisconnectTcp(); });
        if (savedpw.empty())
            unsetenv("IPC_PW");
        else
            setenv("IPC_PW", savedpw.c_str(), 1);
    }

    // The peer's end of a new connection, its preamble read. The connection waits in the
    // listening queue while ConnectTcp runs, so the peer needs no thread of its own.
    int Connect() {
        std::string path = Path("sock");
        unlink(path.c_str());
        int srv = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, path.c_str());
        EXPECT_EQ(bind(srv, (sockaddr *)&addr, sizeof addr), 0);
        EXPECT_EQ(listen(srv, 1), 0);
        ConnectTcp(path.c_str(), false);
        int peer = accept(srv, nullptr, nullptr);
        close(srv);
        char preamble[6 + 16];
        EXPECT_EQ(recv(peer, preamble, sizeof preamble, MSG_WAITALL), (ssize_t)sizeof preamble);
        return peer;
    }

  private:
    std::string savedpw;
};

TEST_F(IpcTest, HeadersAreALengthBetweenBlanks) {
    const struct {
        std::string sent, message; // message "!" means the header is refused
    } cases[] = {
        {"      5 hello", "hello"}, {"0000005 hello", "hello"}, {"5       hello", "hello"},
        {"      0 ", ""},           {"      1 x", "x"},         {"     -5 hello", "!"},
        {" +5     hello", "!"},     {"      5xhello", "!"},     {"        hello", "!"},
        {"  5  5  hello", "!"},     {"    5.0 hello", "!"},
    };
    for (const auto &c : cases) {
        int peer = Connect();
        ASSERT_EQ(write(peer, c.sent.data(), c.sent.size()), (ssize_t)c.sent.size());
        if (c.message == "!") {
            EXPECT_EQ(ErrorOf([] { ReceiveTcp(5); }), "Invalid message header, disconnected")
                << c.sent;
        } else {
            ALGEB r = ReceiveTcp(5);
            EXPECT_EQ(r != 0 ? Text(r) : "(none)", c.message) << c.sent;
            DisconnectTcp();
        }
        close(peer);
    }
}

} // namespace
