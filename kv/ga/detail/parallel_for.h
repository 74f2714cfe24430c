// Internal: the little of oneTBB the parallel evaluator uses, behind plain functions, so that no
// oneTBB header reaches the library's headers and the oneTBB templates live in one source file
// (kv/ga/parallel_for.cpp). A ThreadSanitizer build compiles that file without instrumentation:
// oneTBB's run-time is not instrumented, so its templates, instrumented, would report the reuse of
// its own pooled memory as races. Everything the work itself does runs in instrumented code.
#pragma once

#include <cstdint>

namespace kv::detail {

// A oneTBB task arena of Concurrency threads (0: the default concurrency). Not copyable.
class TTaskArena {
public:
    explicit TTaskArena(int32_t Concurrency);
    ~TTaskArena();
    TTaskArena(const TTaskArena&) = delete;
    TTaskArena& operator=(const TTaskArena&) = delete;

    // Runs Body(Context, Begin, End) over ranges covering First .. Count - 1, split dynamically
    // among the arena's threads (the calling thread among them) down to ranges of Grain. When a
    // call returns false, no range starts afterwards (ranges already running finish). Body must not
    // throw.
    using TBody = bool (*)(void* Context, int32_t Begin, int32_t End);
    void ParallelFor(int32_t First, int32_t Count, int32_t Grain, TBody Body, void* Context);

    // The machine's default concurrency.
    static int32_t DefaultConcurrency();

private:
    void* FArena;
};

} // namespace kv::detail
