// The whole session, driven through the harness with the tests' own jobs:
// this process plays the Imager on a listener owned by another user.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "helpers/event_printer.h"
#include "helpers/foreign_listener.h"
#include "helpers/requests.h"
#include "helpers/temp_dir.h"
#include "platform/platform.h"
#include "records/write_event.h"
#include "support/unique_fd.h"

using namespace std::chrono_literals;

namespace {

constexpr uid_t kImagerUid = 60000;
constexpr auto kPatience = 30s;  // only keeps a broken writer from hanging the suite

// The channel as the Imager sees it: everything received is kept.
class Connection {
 public:
  explicit Connection(UniqueFd fd) : fd_(std::move(fd)) {}

  int fd() const { return fd_.get(); }
  void close() { fd_.reset(); }
  const std::string& transcript() const { return transcript_; }

  // Reads until the first line is in; false when the writer closed first.
  bool readFirstLine() {
    while (transcript_.find('\n') == std::string::npos)
      if (!readSome()) return false;
    return true;
  }

  void readToEnd() {
    while (readSome()) {
    }
  }

  void send(const std::string& bytes) {
    ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  std::vector<WriteEvent> events() const {
    std::vector<WriteEvent> result;
    for (std::size_t start = 0, end; (end = transcript_.find('\n', start)) != std::string::npos;
         start = end + 1)
      result.push_back(nlohmann::json::parse(transcript_.substr(start, end - start)).get<WriteEvent>());
    return result;
  }

 private:
  bool readSome() {
    pollfd ready{fd_.get(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) != 1)
      return false;
    char buffer[4096];
    const ssize_t n = recv(fd_.get(), buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    transcript_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  UniqueFd fd_;
  std::string transcript_;
};

// A root directory holding the channel directory at the request's socket
// path, owned by `owner`, who listens there unless told otherwise.
class ImagerSide {
 public:
  explicit ImagerSide(uid_t owner, bool listen = true) {
    const auto channel = std::filesystem::path(hostPath(request_.socket)).parent_path();
    std::filesystem::create_directories(channel);
    for (auto dir = channel; dir != root_.path(); dir = dir.parent_path())
      chmod(dir.c_str(), 0755);
    chmod(root_.path().c_str(), 0755);
    if (chown(channel.c_str(), owner, owner) != 0) throw std::runtime_error("chown");
    request_.uid = kImagerUid;
    if (listen) listener_ = listenAs(owner, hostPath(request_.socket));
  }

  const std::string& root() const { return root_.path(); }
  WriteRequest& request() { return request_; }
  const WriteRequest& request() const { return request_; }
  std::string hostPath(const std::string& inside) const { return root_.path() + inside; }
  bool listening() const { return listener_.valid(); }

  Connection accept() {
    pollfd ready{listener_.get(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) != 1)
      return Connection(UniqueFd());
    return Connection(UniqueFd(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)));
  }

 private:
  TempDir root_;
  WriteRequest request_ = validRequest();
  UniqueFd listener_;
};

struct Exit {
  int status = -1;
  int signal = 0;
};

// The harness running one session.
class Writer {
 public:
  Writer(const ImagerSide& imager, const std::string& job, const std::string& message = "") {
    std::vector<std::string> environment = {"WRITER_HARNESS_ROOT=" + imager.root(),
                                            "WRITER_HARNESS_JOB=" + job,
                                            "WRITER_HARNESS_MESSAGE=" + message};
    const std::string argument = requestArgument(imager.request());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      std::vector<char*> env;
      for (auto& entry : environment) env.push_back(entry.data());
      env.push_back(nullptr);
      char* argv[] = {const_cast<char*>(WRITER_SESSION_HARNESS),
                      const_cast<char*>(argument.c_str()), nullptr};
      execve(argv[0], argv, env.data());
      _exit(127);
    }
  }
  ~Writer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  Exit wait() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return {};
      std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    if (WIFSIGNALED(status)) return {-1, WTERMSIG(status)};
    return {WEXITSTATUS(status), 0};
  }

 private:
  pid_t pid_ = -1;
};

WriteEvent connected(const ImagerSide& imager) {
  return {"connected", 0, 0, imager.request().nonce};
}

}  // namespace

TEST(Session, SendsConnectedThenTheJobsEventsThenComplete) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ImagerSide imager(kImagerUid);
  ASSERT_TRUE(imager.listening());
  Writer writer(imager, "succeed");
  Connection channel = imager.accept();
  channel.readToEnd();
  const Exit exit = writer.wait();
  EXPECT_EQ(exit.status, 0);
  const std::vector<WriteEvent> expected = {
      connected(imager), {"writing", 0, 8192, std::nullopt}, {"complete", 8192, 8192, std::nullopt}};
  EXPECT_EQ(channel.events(), expected) << channel.transcript();
}

// After "connected", the Imager does its part; the last line tells how the
// job ended and the writer exits 1.
TEST(Session, ReportsHowTheJobEnded) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  std::string accents;
  for (int i = 0; i < 1200; ++i) accents += "e\xCC\x81";
  const std::string controls = "Line one\nline two\r\x01\t";  // 20 characters
  std::string cutAccents;
  for (int i = 0; i < 1000 - 20; ++i) cutAccents += "e\xCC\x81";
  const auto nothing = [](Connection&) {};
  const auto hello = [](Connection& c) { c.send("hello\n"); };
  struct Case {
    const char* name;
    const char* job;
    std::string message;
    std::function<void(Connection&)> act;
    WriteEvent closing;
  } cases[] = {
      {"job error", "fail", "The drive was disconnected.", nothing,
       {"error", 0, 0, "The drive was disconnected."}},
      {"long message with controls", "fail", controls + accents, nothing,
       {"error", 0, 0, controls + cutAccents}},
      {"invalid UTF-8", "fail", "Bad \xff byte.", nothing, {"error", 0, 0, "Bad \uFFFD byte."}},
      {"other line", "await-stop", "", hello, {"cancelled", 0, 0, "Operation cancelled."}},
      {"job error after the stop", "await-stop", "Drive unplugged.", hello,
       {"cancelled", 0, 0, "Drive unplugged."}},
      {"Imager stopped writing", "await-stop", "", [](Connection& c) { shutdown(c.fd(), SHUT_WR); },
       {"cancelled", 0, 0, "Operation cancelled."}},
      {"flood without line feed", "await-stop", "",
       [](Connection& c) { c.send(std::string(1100, 'p')); },
       {"cancelled", 0, 0, "Operation cancelled."}},
  };
  for (const Case& c : cases) {
    ImagerSide imager(kImagerUid);
    ASSERT_TRUE(imager.listening());
    Writer writer(imager, c.job, c.message);
    Connection channel = imager.accept();
    EXPECT_TRUE(channel.readFirstLine()) << c.name;
    c.act(channel);
    channel.readToEnd();
    EXPECT_EQ(writer.wait().status, 1) << c.name;
    const std::vector<WriteEvent> expected = {connected(imager), c.closing};
    EXPECT_EQ(channel.events(), expected) << c.name << ": " << channel.transcript();
  }
}

// The listener's owner must be the request's user: the writer says why in
// one line and exits 1 without running the job.
TEST(Session, RefusesAChannelOwnedBySomeoneElse) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  struct Case {
    const char* name;
    uid_t listener;
    uint32_t requester;
  } cases[] = {{"another user", kImagerUid, kImagerUid + 1}, {"root", 0, kImagerUid}};
  for (const Case& c : cases) {
    ImagerSide imager(c.listener);
    ASSERT_TRUE(imager.listening()) << c.name;
    imager.request().uid = c.requester;
    Writer writer(imager, "succeed");
    Connection channel = imager.accept();
    channel.readToEnd();
    EXPECT_EQ(writer.wait().status, 1) << c.name;
    EXPECT_EQ(channel.transcript(),
              R"({"completed":0,"message":"Invalid Imager channel owner.","stage":"error","total":0})"
              "\n")
        << c.name;
  }
}

TEST(Session, ExitsWhenNobodyListens) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ImagerSide empty(kImagerUid, false);
  Writer first(empty, "succeed");
  EXPECT_EQ(first.wait().status, 1) << "no socket file";
  // A socket that is bound but not listening refuses the connection.
  ImagerSide bound(kImagerUid, false);
  UniqueFd socket(Platform::unixStreamSocket());
  sockaddr_un address;
  const socklen_t length =
      Platform::unixAddress(bound.hostPath(bound.request().socket).c_str(), address);
  ASSERT_EQ(bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
  Writer second(bound, "succeed");
  EXPECT_EQ(second.wait().status, 1) << "bound, not listening";
}

// The final report cannot reach an Imager that closed the channel; the send
// fails instead of killing the writer with SIGPIPE.
TEST(Session, SurvivesAnImagerThatClosed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ImagerSide imager(kImagerUid);
  ASSERT_TRUE(imager.listening());
  Writer writer(imager, "await-stop");
  Connection channel = imager.accept();
  EXPECT_TRUE(channel.readFirstLine());
  channel.close();
  const Exit exit = writer.wait();
  EXPECT_EQ(exit.signal, 0);
  EXPECT_EQ(exit.status, 1);
}

// The one test that waits out the real lease: no ping at all after the
// connection ends the job.
TEST(Session, CancelsAfterTenSilentSeconds) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ImagerSide imager(kImagerUid);
  ASSERT_TRUE(imager.listening());
  Writer writer(imager, "await-stop");
  Connection channel = imager.accept();
  channel.readToEnd();
  EXPECT_EQ(writer.wait().status, 1);
  const std::vector<WriteEvent> expected = {connected(imager),
                                            {"cancelled", 0, 0, "Operation cancelled."}};
  EXPECT_EQ(channel.events(), expected) << channel.transcript();
}
