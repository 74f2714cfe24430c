// The engine's list of observers.
#include <algorithm>

#include "kv/ga/engine.h"

namespace kv {

void TKvCustomGeneticAlgorithm::AddObserver(TKvGAObserver* Observer) {
    if (Observer != nullptr &&
        std::find(FObservers.begin(), FObservers.end(), Observer) == FObservers.end())
        FObservers.push_back(Observer);
}

void TKvCustomGeneticAlgorithm::RemoveObserver(TKvGAObserver* Observer) noexcept {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), Observer), FObservers.end());
}

void TKvCustomGeneticAlgorithm::NotifyObservers(
    void (TKvGAObserver::*Notice)(const TKvCustomGeneticAlgorithm&)) const {
    if (FObservers.empty())
        return;
    // A copy, so that an observer may add or remove observers while it is called. One removed
    // during the round is skipped.
    const std::vector<TKvGAObserver*> Observers = FObservers;
    for (TKvGAObserver* Observer : Observers)
        if (std::find(FObservers.begin(), FObservers.end(), Observer) != FObservers.end())
            (Observer->*Notice)(*this);
}

} // namespace kv
