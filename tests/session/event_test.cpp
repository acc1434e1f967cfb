#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "helpers/outcome.h"
#include "session/writer_main.h"
#include "support/unique_fd.h"

// Lets failures show events as their JSON line.
void PrintTo(const WriteEvent& event, std::ostream* out) { *out << event.encode(); }

namespace {

// A connected channel; the writer's end is non-blocking, as in the session.
struct Channel {
  UniqueFd writer, imager;
  Channel() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair");
    writer.reset(pair[0]);
    imager.reset(pair[1]);
    fcntl(writer.get(), F_SETFL, O_NONBLOCK);
  }

  // What the writer sent so far.
  std::string received() const {
    std::string bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(imager.get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
  }
};

}  // namespace

// Line feeds, carriage returns and other controls in a message are escaped:
// each event arrives as one compact JSON line, without "message" when absent.
TEST(Event, SendsEachEventAsOneCompactLine) {
  const WriteEvent events[] = {
      {"connected", 0, 0, "8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D"},
      {"writing", 1048576, 8388608, std::nullopt},
      {"error", 0, 0, "first line\nsecond line\r\n\ttab \x01\x1f\x7f end \xE2\x80\xA8 separator"},
  };
  Channel channel;
  for (const WriteEvent& event : events) WriterMain::event(channel.writer.get(), event);
  const std::string bytes = channel.received();
  const std::size_t third = bytes.find("\n{\"completed\":0,\"message\":\"first") + 1;
  EXPECT_EQ(bytes.substr(0, third),
            R"({"completed":0,"message":"8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D","stage":"connected","total":0})"
            "\n"
            R"({"completed":1048576,"stage":"writing","total":8388608})"
            "\n");
  const std::string line = bytes.substr(third);
  EXPECT_EQ(line.find_first_of("\r\n\t\x01"), line.size() - 1) << line;
  EXPECT_EQ(nlohmann::json::parse(line).get<WriteEvent>(), events[2]);
  // Text that is not UTF-8 cannot be encoded; nothing goes out then.
  EXPECT_THROW(WriterMain::event(channel.writer.get(), {"error", 0, 0, "bad \xff byte"}),
               nlohmann::json::exception);
  EXPECT_EQ(channel.received(), "");
  // An Imager gone or not reading: the e2e cases.
  EXPECT_EQ(outcomeOf([&] { WriterMain::event(-1, events[1]); }),
            "Imager disconnected. Writing stopped.");
}

// A line far larger than the socket buffer goes out in many partial sends
// and full-buffer waits, and arrives whole.
TEST(Event, DeliversALongLineToASlowReader) {
  Channel channel;
  const WriteEvent big{"error", 0, 0, std::string(1 << 20, 'm')};
  std::string bytes;
  std::thread reader([&] {
    char buffer[16384];
    while (bytes.empty() || bytes.back() != '\n') {
      const ssize_t n = recv(channel.imager.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(outcomeOf([&] { WriterMain::event(channel.writer.get(), big); }), "");
  reader.join();
  EXPECT_EQ(bytes, big.encode() + "\n");
}
