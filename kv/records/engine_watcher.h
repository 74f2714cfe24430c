// TKvEngineWatcher: the common part of the run records (hall of fame, statistics log, progress
// line): an engine observer that attaches itself to one engine at a time.
//
// Attach(Engine) adds the watcher to Engine's observers (leaving the engine it watched before);
// Detach() removes it. Destroying a watcher detaches it, and destroying the engine first makes
// the watcher forget it (GetEngine() then returns nullptr), so either may go first. A watcher is
// neither copied nor moved: the engine knows it by its address.
//
// Attach and Detach must not be called on an engine from inside its own notification of this
// watcher's removal (EngineDestroyed); everything else follows kv/ga/ga_observer.h.
#pragma once

#include "kv/ga/engine.h"

namespace kv {

class TKvEngineWatcher : public TKvGAObserver {
public:
    TKvEngineWatcher(const TKvEngineWatcher&) = delete;
    TKvEngineWatcher& operator=(const TKvEngineWatcher&) = delete;
    ~TKvEngineWatcher() override { Detach(); }

    // Watches Engine from now on. Attaching to the engine already watched changes nothing.
    void Attach(TKvCustomGeneticAlgorithm& Engine) {
        if (FEngine == &Engine)
            return;
        Detach();
        Engine.AddObserver(this);
        FEngine = &Engine;
        Attached();
    }
    // Stops watching; nothing happens when no engine is watched.
    void Detach() noexcept {
        if (FEngine == nullptr)
            return;
        Detaching();
        FEngine->RemoveObserver(this);
        FEngine = nullptr;
    }
    // The engine watched, or nullptr.
    const TKvCustomGeneticAlgorithm* GetEngine() const noexcept { return FEngine; }

    void EngineDestroyed(const TKvCustomGeneticAlgorithm& Engine) noexcept override {
        if (FEngine == &Engine)
            FEngine = nullptr;
    }

protected:
    TKvEngineWatcher() = default;
    // Called at the end of Attach, and at the start of Detach while the engine is still watched
    // (not when the engine is destroyed); the base does nothing. A descendant whose Detaching
    // matters calls Detach() in its own destructor, since the base destructor cannot reach it.
    virtual void Attached() {}
    virtual void Detaching() noexcept {}
    // The engine watched, for a descendant that registers something with it.
    TKvCustomGeneticAlgorithm* GetWatchedEngine() const noexcept { return FEngine; }

private:
    TKvCustomGeneticAlgorithm* FEngine = nullptr;
};

} // namespace kv
