#include "recorder/store/WriteCommandHandler.h"

#include <cerrno>
#include <utility>

namespace orvale::recorder {
namespace {

// What a command whose start threw reports: an I/O error with the reason.
void FailedStart(const WriteCommandHandler::Done& completion, unsigned q,
                 const std::string& problem) {
    if (completion) completion(q, EIO, "Exception: " + problem, 0, 0, 0);
}

}  // namespace

unsigned WriteCommandHandler::SelectQueue(const std::string& key) {
    std::lock_guard lock(mutex_);
    return queues_.Bind(key);
}

uint32_t WriteCommandHandler::GetQueueLoad(unsigned q) const {
    std::lock_guard lock(mutex_);
    return q < kQueueCount ? queues_.Load(q) : 0;
}

bool WriteCommandHandler::Enqueue(const std::string& key, Command command) {
    std::lock_guard lock(mutex_);
    const unsigned q = queues_.Bind(key);
    if (queues_.Push(q, std::move(command))) StartFront(q);
    return true;
}

WriteCommandHandler::Done WriteCommandHandler::MakeDone(unsigned q, uint64_t ticket) {
    return [self = shared_from_this(), q, ticket](uint32_t queue, int32_t error,
                                                  const std::string& message, uint64_t bytes,
                                                  int64_t lastTime, int32_t trackId) {
        self->OnCommandDone(q, ticket, queue, error, message, bytes, lastTime, trackId);
    };
}

void WriteCommandHandler::StartFront(unsigned q) {
    queues_.StartFront(
        q, [this](unsigned queue, uint64_t ticket) { return MakeDone(queue, ticket); },
        FailedStart);
}

void WriteCommandHandler::OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, int32_t error,
                                        const std::string& message, uint64_t bytes,
                                        int64_t lastTime, int32_t trackId) {
    std::lock_guard lock(mutex_);
    if (error == 0 && queues_.Runs(q, ticket)) writtenBytes_.fetch_add(bytes);
    queues_.Complete(
        q, ticket,
        [this](unsigned next, uint64_t nextTicket) { return MakeDone(next, nextTicket); },
        FailedStart, queue, error, message, bytes, lastTime, trackId);
}

}  // namespace orvale::recorder
