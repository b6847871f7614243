// The queues behind a command handler: keys bound to queues, and one command
// at a time per queue, each started when the one before it is done.
//
// A key is bound once, when first seen, to the queue that then has the
// fewest keys (the lowest index among equals), and keeps it for the life of
// the queues. A command stays at the front of its queue from its start until
// its `done`; the next one starts from that `done`, on the thread that calls
// it. Every start gets a `done` of its own: a second call, or a call for a
// command already finished, is logged and ignored, so a faulty owner can
// never finish someone else's command.
//
// A start that throws is finished at once with an error completion (from
// `failure`), and the queue goes on with its next command; a completion that
// throws is logged and the queue goes on all the same. A start or completion
// may enqueue into the same queues (the caller's lock permitting): the
// running functions are moved out of the queue before they are called.
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
#include <unordered_map>
#include <utility>

#include "common/Log.h"

namespace orvale::recorder {

template <unsigned kQueueCount, class... Args>
class CommandQueues {
  public:
    using Done = std::function<void(Args...)>;

    struct Command {
        std::function<void(unsigned queue, Done done)> start;
        Done completion;
    };

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

    // Appends a command; true when its queue was idle, so that it is to be
    // started now.
    bool Push(unsigned q, Command command) {
        queues_[q].commands.push_back(std::move(command));
        return queues_[q].commands.size() == 1;
    }

    // Starts the front command of queue q. `makeDone(q, ticket)` builds the
    // `done` handed to the start; `failure(completion, q, text)` finishes a
    // command whose start threw.
    template <class MakeDone, class Failure>
    void StartFront(unsigned q, const MakeDone& makeDone, const Failure& failure) {
        Queue& queue = queues_[q];
        while (!queue.commands.empty()) {
            auto start = std::move(queue.commands.front().start);
            const uint64_t ticket = ++queue.lastTicket;
            queue.running = ticket;
            std::string problem;
            try {
                if (!start) throw std::invalid_argument("a command without a start function");
                start(q, makeDone(q, ticket));
                return;
            } catch (const std::exception& e) {
                problem = e.what();
            } catch (...) {
                problem = "unknown exception";
            }
            OLOG_AS(common::kLogError, "CommandQueues")
                << "A command failed to start. queue = " << q << ", Exception: " << problem;
            // Its done, called before the throw, has already moved the queue on.
            if (queue.running != ticket) return;
            queue.running = 0;
            auto completion = std::move(queue.commands.front().completion);
            queue.commands.pop_front();
            Call([&] { failure(completion, q, problem); }, q);
        }
    }

    // Finishes the running command of queue q, when `ticket` is its own:
    // calls its completion with `args`, removes it and starts the next one.
    template <class MakeDone, class Failure>
    bool Complete(unsigned q, uint64_t ticket, const MakeDone& makeDone, const Failure& failure,
                  Args... args) {
        Queue& queue = queues_[q];
        if (!Runs(q, ticket)) {
            OLOG_AS(common::kLogError, "CommandQueues")
                << "A command was done twice or after it was finished. queue = " << q;
            return false;
        }
        queue.running = 0;
        auto completion = std::move(queue.commands.front().completion);
        Call(
            [&] {
                if (completion) completion(args...);
            },
            q);
        queue.commands.pop_front();
        StartFront(q, makeDone, failure);
        return true;
    }

    // Whether `ticket` is that of queue q's running command.
    bool Runs(unsigned q, uint64_t ticket) const {
        return ticket != 0 && queues_[q].running == ticket;
    }
    uint32_t Load(unsigned q) const { return load_[q]; }
    size_t Pending(unsigned q) const { return queues_[q].commands.size(); }

  private:
    struct Queue {
        std::deque<Command> commands;  // front = running command
        uint64_t lastTicket = 0;
        uint64_t running = 0;  // ticket of the running command; 0 = none
    };

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

    std::unordered_map<std::string, unsigned> keys_;
    std::array<uint32_t, kQueueCount> load_{};
    std::array<Queue, kQueueCount> queues_;
};

}  // namespace orvale::recorder
