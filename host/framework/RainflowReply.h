// The rainflow operation's request and reply in the interface's terms and the counting
// library's: defaults filled in one place, so that a servant and its clients read a
// request alike, and a result crosses the interface unchanged (every double as counted).
#pragma once

#include <cstdint>

#include "analysis/Rainflow.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// The settings a request asks for: classes 0 reads as 64, no slopes as 3 and 5, a reference
// range of 0 as 1, max_cycles 0 as 10000. Not checked (Analysis::mfSettingsProblem does).
Analysis::RainflowSettings mfRainflowSettings(const IDL::RainflowRequest& request);
IDL::RainflowRequest mfRainflowRequest(const Analysis::RainflowSettings& settings);

// A result as the reply carries it, and back.
IDL::RainflowResult* mfRainflowReply(const Analysis::RainflowResult& result);
Analysis::RainflowResult mfRainflowResult(const IDL::RainflowResult& reply);

// Threads one count_rainflow of this process counts on (Analysis::CParallelRainflowCounter):
// the machine's cores until set; 0 sets that again. Safe to call from any thread.
void mpSetRainflowThreads(unsigned threads);
unsigned mfRainflowThreads();

// The counter of a count of this process: on `threads` threads (0: mfRainflowThreads()),
// its segments gathered in huge pages (Utility::mfTakeHugePages).
Analysis::CParallelRainflowCounter mfRainflowCounter(const Analysis::RainflowSettings& settings,
                                                     unsigned threads = 0);
// Adds the first `count` values (all by default) of a chunk as a values object answered
// it, in either precision.
void mpAddChunk(Analysis::CParallelRainflowCounter& counter, const IDL::RealValueSeqUnion& values,
                CORBA::ULong count = UINT32_MAX);

// Doubles a reply of `result` carries, for the reply limit.
std::uint64_t mfRainflowReplyDoubles(const Analysis::RainflowResult& result);

}  // namespace TamblixHq::NODRA::Framework
