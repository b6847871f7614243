// The write command queues of one drive. Each key (a channel id) is bound
// once to one of 8 queues; the commands of a queue run one after another,
// each started when the ones ahead of it are done or have released the queue
// (a data write whose transfer is over, committing its index rows), while the
// queues run side by side; completions reach their owners in queue order
// (see CommandQueues.h). The handler has no thread: a command starts on the
// thread that enqueues it into an idle queue, or on the thread that calls
// the previous command's `done` or `release`.
//
// Starts and completions run under the handler's recursive mutex, so they
// may call back into the handler on the same thread. Owners call `done`
// exactly once, after their start has returned (from the completion of their
// asynchronous work), and without holding locks of their own: the lock order
// is the handler's, then the owner's.
//
// Held by shared pointers: every `done` holds the handler alive. Commands
// still queued when it goes away are dropped without being called.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "recorder/store/CommandQueues.h"

namespace orvale::recorder {

class WriteCommandHandler : public std::enable_shared_from_this<WriteCommandHandler> {
  public:
    static constexpr unsigned kQueueCount = 8;

    // done/completion: (queue index, error code (0 = success), error text,
    // bytes written, time of the last written second, track id).
    using Queues = CommandQueues<kQueueCount, uint32_t, int32_t, const std::string&, uint64_t,
                                 int64_t, int32_t>;
    using Done = Queues::Done;
    using Release = Queues::Release;
    using Command = Queues::Command;

    WriteCommandHandler();

    // The queue of `key`, binding it first when it is new.
    unsigned SelectQueue(const std::string& key);
    // Queues the command behind the key's earlier ones. Always true.
    bool Enqueue(const std::string& key, Command command);

    // Bytes of the writes that succeeded.
    uint64_t GetWrittenBytes() const { return writtenBytes_.load(); }
    // Number of keys bound to queue q.
    uint32_t GetQueueLoad(unsigned q) const;
    // Lets go of every queued or running command without finishing it, once
    // the pools that would finish them are gone: their functions can hold
    // what holds this handler, and would keep both alive for good.
    void DropCommands();

  private:
    Done MakeDone(unsigned q, uint64_t ticket);
    Release MakeRelease(unsigned q, uint64_t ticket);
    void OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, int32_t error,
                       const std::string& message, uint64_t bytes, int64_t lastTime,
                       int32_t trackId);

    mutable std::recursive_mutex mutex_;
    std::atomic<uint64_t> writtenBytes_{0};
    Queues queues_;
};

}  // namespace orvale::recorder
