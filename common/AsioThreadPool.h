// A pool of threads running one Boost.Asio I/O service.
//
// The pool runs from construction to destruction. Jobs posted to it may run
// at the same time on different threads; a strand orders them. The pool's own
// strand shares nothing with other strands on the pool (as io_context::strand
// objects may), so a long job on it never holds up theirs. A job that
// throws is logged and its thread goes on serving the service. The
// destructor drops queued jobs and waits for the running ones; it must not be
// called from a job of the same pool (that thread is then left to finish on
// its own).
#pragma once

#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

namespace orvale::common {

class AsioThreadPool {
  public:
    explicit AsioThreadPool(unsigned threadCount);
    ~AsioThreadPool();

    AsioThreadPool(const AsioThreadPool&) = delete;
    AsioThreadPool& operator=(const AsioThreadPool&) = delete;

    using StrandExecutor = boost::asio::strand<boost::asio::io_context::executor_type>;

    boost::asio::io_context& IoService() { return io_; }
    StrandExecutor& Strand() { return strand_; }
    unsigned ThreadCount() const { return static_cast<unsigned>(threads_.size()); }

    // Runs `job` once on one of the pool's threads.
    template <class Job>
    void Post(Job&& job) {
        boost::asio::post(io_, std::forward<Job>(job));
    }

  private:
    void RunLoop();

    boost::asio::io_context io_;
    StrandExecutor strand_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
    std::vector<std::thread> threads_;
};

}  // namespace orvale::common
