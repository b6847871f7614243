#include "recorder/store/WriteCommandHandler.h"

#include <cerrno>
#include <utility>
#include <vector>

namespace orvale::recorder {

WriteCommandHandler::WriteCommandHandler()
    : queues_({[this](unsigned q, uint64_t ticket) { return MakeDone(q, ticket); },
               [this](unsigned q, uint64_t ticket) { return MakeRelease(q, ticket); },
               // A command whose start threw reports an I/O error with the reason.
               [](unsigned q, const std::string& problem) {
                   return Queues::Result(q, EIO, "Exception: " + problem, 0, 0, 0);
               }}) {}

unsigned WriteCommandHandler::SelectQueue(const std::string& key) {
    std::lock_guard lock(mutex_);
    return queues_.Bind(key);
}

void WriteCommandHandler::DropCommands() {
    std::vector<Command> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = queues_.TakeAll();
    }
    // Destroyed here, outside the lock: the last of them may take this
    // handler's owner with it.
}

uint32_t WriteCommandHandler::GetQueueLoad(unsigned q) const {
    std::lock_guard lock(mutex_);
    return q < kQueueCount ? queues_.Load(q) : 0;
}

bool WriteCommandHandler::Enqueue(const std::string& key, Command command) {
    std::lock_guard lock(mutex_);
    queues_.Enqueue(queues_.Bind(key), std::move(command));
    return true;
}

WriteCommandHandler::Done WriteCommandHandler::MakeDone(unsigned q, uint64_t ticket) {
    return [self = shared_from_this(), q, ticket](uint32_t queue, int32_t error,
                                                  const std::string& message, uint64_t bytes,
                                                  int64_t lastTime, int32_t trackId) {
        self->OnCommandDone(q, ticket, queue, error, message, bytes, lastTime, trackId);
    };
}

WriteCommandHandler::Release WriteCommandHandler::MakeRelease(unsigned q, uint64_t ticket) {
    return [self = shared_from_this(), q, ticket] {
        std::lock_guard lock(self->mutex_);
        self->queues_.ReleaseQueue(q, ticket);
    };
}

void WriteCommandHandler::OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, int32_t error,
                                        const std::string& message, uint64_t bytes,
                                        int64_t lastTime, int32_t trackId) {
    std::lock_guard lock(mutex_);
    if (error == 0 && queues_.Runs(q, ticket)) writtenBytes_.fetch_add(bytes);
    queues_.Complete(q, ticket, queue, error, message, bytes, lastTime, trackId);
}

}  // namespace orvale::recorder
