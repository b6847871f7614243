#include "common/AsioThreadPool.h"

#include "common/Log.h"

namespace orvale::common {

AsioThreadPool::AsioThreadPool(unsigned threadCount)
    : io_(static_cast<int>(threadCount)),
      strand_(boost::asio::make_strand(io_)),
      work_(boost::asio::make_work_guard(io_)) {
    threads_.reserve(threadCount);
    for (unsigned i = 0; i < threadCount; ++i) threads_.emplace_back([this] { RunLoop(); });
}

AsioThreadPool::~AsioThreadPool() {
    work_.reset();
    io_.stop();
    const auto self = std::this_thread::get_id();
    for (auto& thread : threads_) {
        if (!thread.joinable()) continue;
        if (thread.get_id() == self) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void AsioThreadPool::RunLoop() {
    for (;;) {
        try {
            io_.run();
            return;
        } catch (const std::exception& e) {
            OLOG(kLogError) << "Exception in a pool job: " << e.what();
        } catch (...) {
            OLOG(kLogError) << "Unknown exception in a pool job";
        }
    }
}

}  // namespace orvale::common
