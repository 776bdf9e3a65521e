#include "executor/log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace velto::executor {
namespace {

using namespace std::string_literals;

TEST(SystemLogTest, LinesReachTheInstalledSinkUnchanged) {
  const CapturedLog log;
  log_error_line("Logic Error: display: a, debug: b");
  log_error_line("");
  log_error_line("100% %s %n");  // never used as a format
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Logic Error: display: a, debug: b", "", "100% %s %n"}));
}

TEST(SystemLogTest, NulAnywhereReplacesTheWholeLine) {
  const CapturedLog log;
  for (const std::string& line : {"\0start"s, "mid\0dle"s, "end\0"s, "\0"s}) log_error_line(line);
  EXPECT_EQ(log.lines(), std::vector<std::string>(4, "Log Contained NULL characters"));
}

TEST(SystemLogTest, CaptureRestoresThePreviousSink) {
  const CapturedLog outer;
  {
    const CapturedLog inner;
    log_error_line("inner");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"inner"});
  }
  log_error_line("outer");
  EXPECT_EQ(outer.lines(), std::vector<std::string>{"outer"});

  SyslogSink system;
  LogSink* previous = swap_log_sink(&system);
  EXPECT_EQ(previous, &outer);
  EXPECT_EQ(swap_log_sink(previous), &system);
}

TEST(SystemLogTest, ConcurrentLinesAreEachWrittenOnce) {
  const CapturedLog log;
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) log_error_line("t" + std::to_string(t) + " " + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> per_thread(kThreads, 0);
  for (const auto& line : lines) ++per_thread.at(static_cast<std::size_t>(line[1] - '0'));
  EXPECT_EQ(per_thread, std::vector<int>(kThreads, kLines));
}

}  // namespace
}  // namespace velto::executor
