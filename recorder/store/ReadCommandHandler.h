// The read command queues of one drive: 4 queues, bound to keys (channel
// ids) and run one command at a time, exactly as the write command queues
// (see WriteCommandHandler.h), without threads of their own.
//
// The lock is a shared mutex with upgrade: looking up a bound key shares
// it, everything else holds it exclusively, starts and completions
// included. It is not recursive: a read start or completion must not call
// the handler, and a start must not call its `done` before returning.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ConcurrentLock.h"
#include "recorder/store/CommandQueues.h"

namespace orvale::recorder {

class ReadCommandHandler : public std::enable_shared_from_this<ReadCommandHandler> {
  public:
    static constexpr unsigned kQueueCount = 4;

    // done/completion: (queue index, result (0 = success), bytes read).
    using Queues = CommandQueues<kQueueCount, uint32_t, uint32_t, uint64_t>;
    using Done = Queues::Done;
    using ReadCommand = Queues::Command;

    ReadCommandHandler();

    // The queue of `key`, binding it first when it is new.
    unsigned AssignQueue(const std::string& key);
    // Queues the command behind the key's earlier ones. Always true.
    bool Enqueue(const std::string& key, ReadCommand command);

    // Number of keys bound to queue q.
    uint32_t GetQueueLoad(unsigned q) const;
    // Lets go of every queued or running command without finishing it, once
    // the pools that would finish them are gone: their functions can hold
    // what holds this handler, and would keep both alive for good.
    void DropCommands();
    // Commands queued or running, over every queue.
    size_t PendingCount() const;

  private:
    Done MakeDone(unsigned q, uint64_t ticket);
    void OnCommandDone(unsigned q, uint64_t ticket, uint32_t queue, uint32_t result,
                       uint64_t value);

    mutable ContainerMutex mutex_;
    Queues queues_;
};

}  // namespace orvale::recorder
