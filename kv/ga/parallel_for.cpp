// The oneTBB side of the parallel evaluator (see kv/ga/detail/parallel_for.h).
#include "kv/ga/detail/parallel_for.h"

#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

namespace kv::detail {

TTaskArena::TTaskArena(int32_t Concurrency)
    : FArena(new tbb::task_arena(Concurrency > 0 ? static_cast<int>(Concurrency)
                                                 : static_cast<int>(tbb::task_arena::automatic))) {}

TTaskArena::~TTaskArena() {
    delete static_cast<tbb::task_arena*>(FArena);
}

int32_t TTaskArena::DefaultConcurrency() {
    return tbb::info::default_concurrency();
}

void TTaskArena::ParallelFor(int32_t First, int32_t Count, int32_t Grain, TBody Body,
                             void* Context) {
    tbb::task_group_context Group;
    static_cast<tbb::task_arena*>(FArena)->execute([&] {
        // Ranges split on demand down to Grain (auto_partitioner): idle threads steal, so
        // individuals of different costs balance out.
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(First, Count, static_cast<size_t>(Grain > 0 ? Grain : 1)),
            [&](const tbb::blocked_range<int32_t>& Range) {
                if (!Body(Context, Range.begin(), Range.end()))
                    Group.cancel_group_execution();
            },
            tbb::auto_partitioner(), Group);
    });
}

} // namespace kv::detail
