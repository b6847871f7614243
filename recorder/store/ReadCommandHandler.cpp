#include "recorder/store/ReadCommandHandler.h"

#include <cerrno>
#include <utility>

namespace orvale::recorder {
namespace {

// What a command whose start threw reports: an I/O error, nothing read.
void FailedStart(const ReadCommandHandler::Done& completion, unsigned q,
                 const std::string& /*problem*/) {
    if (completion) completion(q, EIO, 0);
}

}  // namespace

unsigned ReadCommandHandler::AssignQueue(const std::string& key) {
    {
        SharedLock lock(mutex_);
        if (const auto known = queues_.Find(key)) return *known;
    }
    ExclusiveLock lock(mutex_);
    return queues_.Bind(key);
}

uint32_t ReadCommandHandler::GetQueueLoad(unsigned q) const {
    SharedLock lock(mutex_);
    return q < kQueueCount ? queues_.Load(q) : 0;
}

bool ReadCommandHandler::Enqueue(const std::string& key, ReadCommand command) {
    ExclusiveLock lock(mutex_);
    const unsigned q = queues_.Bind(key);
    if (queues_.Push(q, std::move(command))) StartFront(q);
    return true;
}

ReadCommandHandler::Done ReadCommandHandler::MakeDone(unsigned q, uint64_t ticket) {
    return [self = shared_from_this(), q, ticket](uint32_t queue, uint32_t result, uint64_t value) {
        self->OnCommandDone(q, ticket, queue, result, value);
    };
}

void ReadCommandHandler::StartFront(unsigned q) {
    queues_.StartFront(
        q, [this](unsigned queue, uint64_t ticket) { return MakeDone(queue, ticket); },
        FailedStart);
}

void ReadCommandHandler::OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, uint32_t result,
                                       uint64_t value) {
    ExclusiveLock lock(mutex_);
    queues_.Complete(
        q, ticket,
        [this](unsigned next, uint64_t nextTicket) { return MakeDone(next, nextTicket); },
        FailedStart, queue, result, value);
}

}  // namespace orvale::recorder
