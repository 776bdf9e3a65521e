#include "executor/log.hpp"

#include <syslog.h>

#include <atomic>

namespace velto::executor {

namespace {

SyslogSink& system_sink() {
  static SyslogSink sink;
  return sink;
}

std::atomic<LogSink*> g_sink{nullptr};  // nullptr: the system logger

}  // namespace

void SyslogSink::write_error(const char* line) { ::syslog(LOG_ERR, "%s", line); }

void log_error_line(std::string_view line) {
  LogSink* sink = g_sink.load(std::memory_order_acquire);
  if (sink == nullptr) sink = &system_sink();
  if (line.find('\0') != std::string_view::npos) {
    sink->write_error(kLogContainedNul);
    return;
  }
  const std::string terminated(line);
  sink->write_error(terminated.c_str());
}

LogSink* swap_log_sink(LogSink* sink) noexcept { return g_sink.exchange(sink, std::memory_order_acq_rel); }

}  // namespace velto::executor
