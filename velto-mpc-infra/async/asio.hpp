// The Boost.Asio parts the library uses, included in one place.
//
// GCC 12 raises two false positives inside Asio after inlining, where the
// system-header exemption no longer applies: -Wnull-dereference in the
// executor comparisons once strands are wrapped in any_io_executor, and
// -Wmismatched-new-delete on the coroutine frames (which Asio allocates and
// frees through its own matching operator new/delete). Both are silenced for
// the rest of every translation unit that includes this header; include it
// before any other Asio header.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>
