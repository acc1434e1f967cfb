#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "helpers/event_printer.h"
#include "records/imager_error.h"
#include "records/write_event.h"
#include "session/writer_main.h"
#include "support/unique_fd.h"

using namespace std::chrono_literals;

namespace {

// A connected channel: the writer's end is non-blocking, as in the session.
struct Channel {
  UniqueFd writer, imager;
  Channel() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair");
    writer.reset(pair[0]);
    imager.reset(pair[1]);
    fcntl(writer.get(), F_SETFL, O_NONBLOCK);
  }

  // What the writer sent so far (the writer's end stays open).
  std::string received() const {
    std::string bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(imager.get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
  }
};

std::vector<std::string> lines(const std::string& bytes) {
  std::vector<std::string> result;
  for (std::size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos;
       start = end + 1)
    result.push_back(bytes.substr(start, end - start));
  return result;
}

std::string sendOutcome(int fd, const WriteEvent& event) {
  try {
    WriterMain::event(fd, event);
    return "sent";
  } catch (const ImagerError& error) {
    return error.what();
  }
}

}  // namespace

TEST(Event, SendsEachEventAsOneCompactLine) {
  const WriteEvent events[] = {
      {"connected", 0, 0, "8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D"},
      {"writing", 1048576, 8388608, std::nullopt},
      {"error", 0, 0, "first line\nsecond line\r\n\ttab \x01\x1f\x7f end"},
      {"error", 0, 0, "caf\xC3\xA9 \xE2\x80\xA8 separator"},
  };
  Channel channel;
  for (const WriteEvent& event : events) WriterMain::event(channel.writer.get(), event);
  const std::string bytes = channel.received();
  ASSERT_EQ(bytes.back(), '\n');
  const auto received = lines(bytes);
  ASSERT_EQ(received.size(), std::size(events));
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(nlohmann::json::parse(received[i]).get<WriteEvent>(), events[i]) << received[i];
    EXPECT_EQ(received[i].find('\r'), std::string::npos) << received[i];
  }
  EXPECT_EQ(received[1].find("message"), std::string::npos);
}

// The encoder refuses text that is not UTF-8; nothing goes out then.
TEST(Event, SendsNothingForAnEventThatCannotBeEncoded) {
  Channel channel;
  EXPECT_THROW(WriterMain::event(channel.writer.get(), {"error", 0, 0, "bad \xff byte"}),
               nlohmann::json::exception);
  EXPECT_EQ(channel.received(), "");
}

// Every delivery failure ends in the same message; the test process would
// die of SIGPIPE if a send to the closed Imager raised it.
TEST(Event, RefusesChannelsThatCannotTakeTheLine) {
  const std::string disconnected = "Imager disconnected. Writing stopped.";
  const WriteEvent progress{"writing", 1, 2, std::nullopt};

  Channel closed;
  closed.imager.reset();
  EXPECT_EQ(sendOutcome(closed.writer.get(), progress), disconnected) << "closed Imager";

  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
  EXPECT_EQ(sendOutcome(writeEnd.get(), progress), disconnected) << "not a socket";
  EXPECT_EQ(sendOutcome(-1, progress), disconnected) << "no descriptor";

  // An Imager that stopped reading: the buffer fills, then the line waits
  // out its deadline.
  Channel stuck;
  const std::string filler(65536, 'x');
  while (send(stuck.writer.get(), filler.data(), filler.size(), MSG_NOSIGNAL) > 0) {
  }
  EXPECT_EQ(sendOutcome(stuck.writer.get(), progress), disconnected) << "Imager not reading";
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
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_EQ(sendOutcome(channel.writer.get(), big), "sent");
  reader.join();
  EXPECT_EQ(bytes, big.encode() + "\n");
}
