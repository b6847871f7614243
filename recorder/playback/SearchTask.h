// The boundary of one search task on a pool thread, shared by the searchers
// that answer once: a search that throws is logged and answers nothing (an
// answer would say "nothing recorded", which the search never found out); a
// callback that throws is logged. Nothing escapes to the pool's thread.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "common/Log.h"

namespace orvale::recorder {

// `search` () -> result runs first; `answer` (result) only when it returned.
template <class Search, class Answer>
void RunSearchTask(const char* searcher, uint32_t seqID, Search&& search, Answer&& answer) {
    decltype(search()) result{};
    try {
        result = search();
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << searcher << " seqID = " << seqID
                                << ", Failed to search. Exception: " << e.what();
        return;
    } catch (...) {
        OLOG(common::kLogError) << searcher << " seqID = " << seqID
                                << ", Failed to search. Unknown exception";
        return;
    }
    try {
        answer(std::move(result));
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << searcher << " seqID = " << seqID
                                << ", The callback threw. Exception: " << e.what();
    } catch (...) {
        OLOG(common::kLogError) << searcher << " seqID = " << seqID
                                << ", The callback threw. Unknown exception";
    }
}

}  // namespace orvale::recorder
