#include "recorder/store/ReadCommandHandler.h"

#include <cerrno>
#include <utility>
#include <vector>

namespace orvale::recorder {

ReadCommandHandler::ReadCommandHandler()
    : queues_(
          {[this](unsigned q, uint64_t ticket) { return MakeDone(q, ticket); },
           // Reads never overlap: the read lock is not recursive, so a
           // start could not release the queue it is called under.
           [](unsigned, uint64_t) { return Queues::Release(); },
           // A command whose start threw reports an I/O error, nothing read.
           [](unsigned q, const std::string& /*problem*/) { return Queues::Result(q, EIO, 0); }}) {}

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

size_t ReadCommandHandler::PendingCount() const {
    SharedLock lock(mutex_);
    size_t pending = 0;
    for (unsigned q = 0; q < kQueueCount; ++q) pending += queues_.Pending(q);
    return pending;
}

void ReadCommandHandler::DropCommands() {
    std::vector<ReadCommand> dropped;
    {
        ExclusiveLock lock(mutex_);
        dropped = queues_.TakeAll();
    }
    // Destroyed here, outside the lock: the last of them may take this
    // handler's owner with it.
}

bool ReadCommandHandler::Enqueue(const std::string& key, ReadCommand command) {
    ExclusiveLock lock(mutex_);
    queues_.Enqueue(queues_.Bind(key), std::move(command));
    return true;
}

ReadCommandHandler::Done ReadCommandHandler::MakeDone(unsigned q, uint64_t ticket) {
    return [self = shared_from_this(), q, ticket](uint32_t queue, uint32_t result, uint64_t value) {
        self->OnCommandDone(q, ticket, queue, result, value);
    };
}

void ReadCommandHandler::OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, uint32_t result,
                                       uint64_t value) {
    ExclusiveLock lock(mutex_);
    queues_.Complete(q, ticket, queue, result, value);
}

}  // namespace orvale::recorder
