// Walks of the engine over its registries (recorders, ARB recorders,
// channels, drives): each visit runs on a snapshot of the registry, outside
// its lock, so that a visit may take its time (a recorder stopping, a channel
// waiting for an overwrite in progress) without holding up whoever adds to or
// removes from the registry meanwhile. A visit that throws is logged and the
// walk goes on with the next object: one broken recorder must not keep a
// setting or a schedule from the others.
#pragma once

#include <exception>
#include <vector>

#include "common/Log.h"

namespace orvale::recorder {

// Logs "<what> failed, Exception: <text>" for the exception being handled;
// a failure to log is swallowed.
inline void LogCaughtException(const char* what) noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            OLOG(common::kLogError) << what << " failed, Exception: " << e.what();
        } catch (...) {
            OLOG(common::kLogError) << what << " failed, Exception: unknown";
        }
    } catch (...) {
    }
}

// Runs `call`; an exception is logged and reported as false.
template <class Call>
bool RunGuarded(const char* what, Call&& call) noexcept {
    try {
        call();
        return true;
    } catch (...) {
        LogCaughtException(what);
    }
    return false;
}

// Visits every value of `values`, each guarded; answers how many visits
// threw.
template <class Value, class Visit>
size_t VisitEach(const std::vector<Value>& values, const char* what, Visit&& visit) noexcept {
    size_t failed = 0;
    for (const Value& value : values) {
        if (!RunGuarded(what, [&] { visit(value); })) ++failed;
    }
    return failed;
}

// Visits a snapshot of the values of a concurrent registry (ConcurrentMap,
// ConcurrentUnorderedMap), outside the registry's lock.
template <template <class, class> class Registry, class K, class V, class Visit>
size_t WalkRegistry(const Registry<K, V>& registry, const char* what, Visit&& visit) noexcept {
    std::vector<V> values;
    if (!RunGuarded(what, [&] { registry.Values(values); })) return 1;
    return VisitEach(values, what, visit);
}

}  // namespace orvale::recorder
