// The system log: every failure reported at the function interface is written
// there as one line at error priority.
//
// The sink is swappable so that tests can capture the lines instead of sending
// them to the operating system's logger.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velto::executor {

// Replaces a line that holds a NUL byte (it cannot pass as a C string).
inline constexpr char kLogContainedNul[] = "Log Contained NULL characters";

// Where error lines go. write_error receives a NUL-terminated line without
// NUL bytes inside.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write_error(const char* line) = 0;
};

// The operating system's logger: syslog at LOG_ERR with no facility of its
// own, the line passed through the format "%s".
class SyslogSink final : public LogSink {
 public:
  void write_error(const char* line) override;
};

// Writes one line at error priority to the current sink; a line holding a NUL
// byte anywhere is logged as kLogContainedNul instead. Safe from any thread.
void log_error_line(std::string_view line);

// Test seam: installs `sink` (nullptr restores the system logger) and returns
// the sink that was installed. The caller keeps `sink` alive while installed.
LogSink* swap_log_sink(LogSink* sink) noexcept;

// A sink that keeps the lines, installed for its lifetime (not nestable across
// threads: install it from the test's main thread).
class CapturedLog final : public LogSink {
 public:
  CapturedLog() : previous_(swap_log_sink(this)) {}
  ~CapturedLog() override { swap_log_sink(previous_); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  void write_error(const char* line) override {
    const std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  }

  std::vector<std::string> lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  LogSink* previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace velto::executor
