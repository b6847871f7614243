// The queues behind a command handler: keys bound to queues, and the
// commands of each queue run one after another, each started when the ones
// ahead of it no longer hold the queue.
//
// A key is bound once, when first seen, to the queue that then has the
// fewest keys (the lowest index among equals), and keeps it for the life of
// the queues. A started command holds its queue until its `done`, or, for a
// command that can overlap the next one (`startOverlapping`), until it calls
// `release`: the command behind it may then start while it finishes (a data
// write whose transfer is over, committing its index rows). Completions are
// always called in queue order: a command done before the one ahead of it
// waits for it.
//
// Every start gets a `done` of its own: a second call, or a call for a
// command already finished, is logged and ignored, so a faulty owner can
// never finish someone else's command. A start that throws is finished at
// once with the owner's failure result, and the queue goes on; a completion
// that throws is logged and the queue goes on all the same. A start or
// completion may enqueue into the same queues (the caller's lock
// permitting): the running functions are moved out of the queue before they
// are called.
//
// No lock of its own: the handler that owns it serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/Log.h"

namespace orvale::recorder {

template <unsigned kQueueCount, class... Args>
class CommandQueues {
  public:
    using Done = std::function<void(Args...)>;
    using Release = std::function<void()>;
    using Result = std::tuple<std::decay_t<Args>...>;

    using Start = std::function<void(unsigned queue, Done done)>;

    struct Command {
        Command() = default;
        Command(Start startFunction, Done completionFunction)
            : start(std::move(startFunction)), completion(std::move(completionFunction)) {}

        Start start;
        Done completion;
        // Set instead of `start` by a command that may overlap the next one:
        // `release()` lets the command behind it start before this one is
        // done.
        std::function<void(unsigned queue, Done done, Release release)> startOverlapping;
    };

    // What the owning handler supplies: the `done` and `release` handed to a
    // start, and the result of a command whose start failed.
    struct Owner {
        std::function<Done(unsigned q, uint64_t ticket)> makeDone;
        std::function<Release(unsigned q, uint64_t ticket)> makeRelease;
        std::function<Result(unsigned q, const std::string& problem)> failure;
    };

    explicit CommandQueues(Owner owner) : owner_(std::move(owner)) {}

    std::optional<unsigned> Find(const std::string& key) const {
        const auto found = keys_.find(key);
        if (found == keys_.end()) return std::nullopt;
        return found->second;
    }

    unsigned Bind(const std::string& key) {
        if (const auto known = Find(key)) return *known;
        unsigned chosen = 0;
        for (unsigned q = 1; q < kQueueCount; ++q) {
            if (load_[q] < load_[chosen]) chosen = q;
        }
        keys_.emplace(key, chosen);
        ++load_[chosen];
        return chosen;
    }

    // Appends a command to queue q and starts it when nothing ahead of it
    // holds the queue.
    void Enqueue(unsigned q, Command command) {
        Entry entry;
        entry.command = std::move(command);
        queues_[q].entries.push_back(std::move(entry));
        StartReady(q);
    }

    // Command `ticket` of queue q no longer holds the queue.
    void ReleaseQueue(unsigned q, uint64_t ticket) {
        Entry* entry = Running(q, ticket);
        if (entry == nullptr || entry->released) return;
        entry->released = true;
        StartReady(q);
    }

    // Finishes command `ticket` of queue q with `args` (see above); false,
    // logged, when it is not a running command.
    bool Complete(unsigned q, uint64_t ticket, Args... args) {
        if (!Finish(q, ticket, Result(args...))) {
            OLOG_AS(common::kLogError, "CommandQueues")
                << "A command was done twice or after it was finished. queue = " << q;
            return false;
        }
        StartReady(q);
        return true;
    }

    // Whether `ticket` is that of a command of queue q started and not done.
    bool Runs(unsigned q, uint64_t ticket) const {
        for (const Entry& entry : queues_[q].entries) {
            if (entry.ticket == ticket && ticket != 0) return !entry.result;
        }
        return false;
    }
    uint32_t Load(unsigned q) const { return load_[q]; }

    // Takes every command out of every queue, started or not, calling
    // nothing: for an owner whose commands can no longer be done (the pool
    // that ran their transfers is gone). Their functions may hold what holds
    // the owner, so the caller lets them go outside its lock. Keys stay bound.
    std::vector<Command> TakeAll() {
        std::vector<Command> taken;
        for (Queue& queue : queues_) {
            for (Entry& entry : queue.entries) taken.push_back(std::move(entry.command));
            queue.entries.clear();
        }
        return taken;
    }
    size_t Pending(unsigned q) const { return queues_[q].entries.size(); }

  private:
    struct Entry {
        Command command;
        uint64_t ticket = 0;  // 0 = not started
        bool released = false;
        std::optional<Result> result;  // done, waiting for a command ahead of it
    };

    struct Queue {
        std::deque<Entry> entries;  // in queue order; started ones first
        uint64_t lastTicket = 0;
    };

    Entry* Running(unsigned q, uint64_t ticket) {
        for (Entry& entry : queues_[q].entries) {
            if (entry.ticket == ticket && ticket != 0) return entry.result ? nullptr : &entry;
        }
        return nullptr;
    }

    // Starts the first command not started yet when every started one ahead
    // of it is done or released; then looks again, since a start may fail
    // or release at once.
    void StartReady(unsigned q) {
        Queue& queue = queues_[q];
        for (;;) {
            size_t next = 0;
            for (; next < queue.entries.size(); ++next) {
                const Entry& entry = queue.entries[next];
                if (entry.ticket == 0) break;
                if (!entry.released && !entry.result) return;  // it holds the queue
            }
            if (next == queue.entries.size()) return;
            // The ticket first, so that a done called from inside the start finds its command.
            const uint64_t ticket = queue.entries[next].ticket = ++queue.lastTicket;
            Launch(q, ticket);
        }
    }

    // Calls the start of command `ticket`; one that throws is finished with
    // the owner's failure result.
    void Launch(unsigned q, uint64_t ticket) {
        Entry* entry = Running(q, ticket);
        if (entry == nullptr) return;  // finished from inside an earlier start
        auto overlapping = std::move(entry->command.startOverlapping);
        auto start = std::move(entry->command.start);
        std::string problem;
        try {
            if (overlapping) {
                overlapping(q, owner_.makeDone(q, ticket), owner_.makeRelease(q, ticket));
            } else if (start) {
                start(q, owner_.makeDone(q, ticket));
            } else {
                throw std::invalid_argument("a command without a start function");
            }
            return;
        } catch (const std::exception& e) {
            problem = e.what();
        } catch (...) {
            problem = "unknown exception";
        }
        OLOG_AS(common::kLogError, "CommandQueues")
            << "A command failed to start. queue = " << q << ", Exception: " << problem;
        // Its done, called before the throw, may have finished it already.
        Finish(q, ticket, owner_.failure(q, problem));
    }

    // Records the result of command `ticket` and calls, in queue order, the
    // completions of every command at the front that is done.
    bool Finish(unsigned q, uint64_t ticket, Result result) {
        Entry* entry = Running(q, ticket);
        if (entry == nullptr) return false;
        entry->result = std::move(result);
        Queue& queue = queues_[q];
        while (!queue.entries.empty() && queue.entries.front().result) {
            Entry done = std::move(queue.entries.front());
            queue.entries.pop_front();
            Call(
                [&] {
                    if (done.command.completion) std::apply(done.command.completion, *done.result);
                },
                q);
        }
        return true;
    }

    template <class Job>
    static void Call(const Job& job, unsigned q) {
        try {
            job();
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogError, "CommandQueues")
                << "A command's completion failed. queue = " << q << ", Exception: " << e.what();
        } catch (...) {
            OLOG_AS(common::kLogError, "CommandQueues")
                << "A command's completion failed. queue = " << q;
        }
    }

    Owner owner_;
    std::unordered_map<std::string, unsigned> keys_;
    std::array<uint32_t, kQueueCount> load_{};
    std::array<Queue, kQueueCount> queues_;
};

}  // namespace orvale::recorder
