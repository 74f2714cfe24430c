// TKvHallOfFame: the best individuals an engine has ever scored, kept as copies.
//
// The population an engine reads after Evolve is a different collection from the one before (the
// two are a double buffer), so FittestIndividual is the current generation's best and the best of
// earlier generations is overwritten. Attached to an engine, the hall of fame looks at every
// individual of the population after Initialize and after each generation and keeps copies of the
// Capacity best ever seen (Capacity 1 is the usual "best ever").
//
// Order: by the engine's FitnessMethod (fmMaximize: larger first; fmMinimize: smaller first),
// read at every look; a fitness that is not a number ranks below every other. On equal fitness
// the earlier individual stays ahead: one seen in an earlier generation, or at a lower index in
// the same generation. So a newcomer enters a full hall only when it is strictly better than the
// last entry, which then drops out. When the engine's FitnessMethod changes, the entries are
// reordered (stably) before the next look.
//
// Unique (off by default): an individual whose chromosome equals one already kept (same size,
// same bits) is not taken; the kept one stays where it is. Turning it on removes the entries
// whose chromosome equals one ranked ahead of them.
//
// Entries are plain TKvGAIndividual copies (chromosome, fitness and name; see
// TKvGAIndividual::Assign) owned by the hall of fame; they belong to no population and stay valid
// until they drop out, the hall is cleared or destroyed. Each remembers the generation it was
// found in. Nothing is borrowed from the engine, so the hall outlives it.
//
// Checkpoints: while attached, the hall of fame is kept in the engine's checkpoints
// (SaveCheckpoint, LoadCheckpoint; kv/ga/persistence.h) as the named section SectionName
// ("HallOfFame" by default; empty: not kept). The section holds Capacity, Unique, FitnessMethod
// and one Entry per entry, best first, with its Generation, Fitness (shortest round-trip text),
// Name (the display name, as a saved population writes it) and Bits (the chromosome as a bit-string
// text, bit 0 first). Loading a checkpoint that has the section replaces the hall's settings and
// entries with the saved ones, entries reordered stably when a tampered document lists them out of
// order; one without it leaves the hall as it is. A section that does not read (a missing or
// unconvertible value, a Capacity outside 1 .. MaxCheckpointCapacity, more entries than Capacity, a
// Bits text that is not 0s and 1s or longer than MaxChromosomeBits) fails the whole load with
// EConvertError naming the section, the entry and the value, and changes nothing. Two halls
// attached to one engine need different section names.
//
// Add(Item, Generation) offers one individual directly, for callers that collect individuals of
// their own; it follows the same rules with the FitnessMethod last seen (initially fmMinimize,
// the engine's default).
//
// Errors: a Capacity below 1 raises EKvException naming the value; an index outside 0 ..
// Count - 1 raises EListError. Attaching follows kv/records/engine_watcher.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kv/ga/individual.h"
#include "kv/records/engine_watcher.h"

namespace kv {

class IXMLNode;

class TKvHallOfFame : public TKvEngineWatcher {
public:
    // The largest Capacity a checkpoint may give a hall of fame.
    static constexpr int32_t MaxCheckpointCapacity = int32_t(1) << 16;

    explicit TKvHallOfFame(int32_t Capacity = 1, bool Unique = false);
    ~TKvHallOfFame() override;

    int32_t GetCapacity() const noexcept { return FCapacity; }
    // The number of entries kept; lowering it drops the last entries.
    void SetCapacity(int32_t Value);
    bool GetUnique() const noexcept { return FUnique; }
    void SetUnique(bool Value);
    // The order of the entries (the engine's FitnessMethod last seen).
    TGAFitnessMethod GetFitnessMethod() const noexcept { return FFitnessMethod; }

    int32_t GetCount() const noexcept { return static_cast<int32_t>(FEntries.size()); }
    // Entry Index, 0 the best.
    const TKvGAIndividual* GetItem(int32_t Index) const;
    // The generation entry Index was found in.
    int32_t GetGeneration(int32_t Index) const;
    // The best entry, or nullptr when the hall is empty.
    const TKvGAIndividual* GetBest() const noexcept {
        return FEntries.empty() ? nullptr : FEntries.front().Individual.get();
    }
    void Clear() noexcept { FEntries.clear(); }

    const std::string& GetSectionName() const noexcept { return FSectionName; }
    // EConvertError for a name that is not a checkpoint section name (ASCII letters, digits, '_',
    // '-' and '.', starting with a letter or '_'); empty keeps the hall out of checkpoints.
    void SetSectionName(const std::string& Value);

    // Offers a copy of Item, found in Generation; true when it was taken.
    bool Add(const TKvGAIndividual& Item, int32_t Generation);

    void AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) override;

protected:
    void Attached() override;
    void Detaching() noexcept override;

private:
    struct TEntry {
        std::unique_ptr<TKvGAIndividual> Individual;
        int32_t Generation = 0;
    };

    // True when fitness A ranks strictly ahead of fitness B.
    bool Better(TGAFitness A, TGAFitness B) const noexcept;
    void SetFitnessMethod(TGAFitnessMethod Value);
    // Removes the entries whose chromosome equals one ranked ahead of them.
    static void RemoveDuplicates(std::vector<TEntry>& Entries);
    // The checkpoint section (hall_of_fame_checkpoint.cpp).
    void Register();
    void Unregister() noexcept;
    void WriteSection(IXMLNode& Section) const;
    std::function<void()> ReadSection(IXMLNode* Section);

    int32_t FCapacity = 1;
    bool FUnique = false;
    TGAFitnessMethod FFitnessMethod = fmMinimize;
    std::vector<TEntry> FEntries;
    std::string FSectionName = "HallOfFame";
};

} // namespace kv
