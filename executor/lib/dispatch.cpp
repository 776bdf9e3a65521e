#include "executor/lib/dispatch.hpp"

namespace velto::executor::detail {

async::JoinHandle<ManagerResult> start_manager(const boost::asio::any_io_executor& current, ExecutorBuilder builder) {
  // On the library runtime the manager gets a strand of its own on the
  // runtime's context; elsewhere (a context run by hand) it shares the
  // context of the calling task.
  if (async::Runtime* rt = async::Runtime::current()) return spawn_executor_manager(rt->executor(), std::move(builder));
  return spawn_executor_manager(current, std::move(builder));
}

}  // namespace velto::executor::detail
