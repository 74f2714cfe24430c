// Typed nodes of the GA settings document: an engine's reproduction and selection parameters, its
// stopping aids and generation count, and the embedded domain.
//
//   GeneticAlgorithm
//     DiversityLimit, FitnessCutoff (single), FitnessMethod (text), Generation (integer),
//     UseDiversityLimit, UseFitnessCutoff (boolean)
//     Reproduction
//       CrossoverMethod (text), CrossoverProbability, InversionProbability,
//       MutationProbability (single)
//       SelectionMethod
//         Method (text), ElitistPercent (single, a fraction 0..1), TournamentField (integer)
//     Domain   the content of a GADomain element (ga_domain_nodes.h)
//
// Properties follow the rules of xml_node.h. Every number and boolean here is required: reading one
// whose element is absent, empty or not convertible raises EConvertError naming the element; texts
// (the enumeration names) read empty when absent. Single-precision values pass through float when
// written and when read. Reproduction, SelectionMethod and Domain are the first child elements of
// their names, created as the last child when absent; Domain is a full domain node.
#pragma once

#include "kv/xml/ga_domain_nodes.h"
#include "kv/xml/xml_node.h"

#include <memory>
#include <string>
#include <string_view>

namespace kv {

class IXMLSelectionMethod : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLSelectionMethod";
    virtual std::string GetMethod() const = 0;
    virtual float GetElitistPercent() const = 0;
    virtual int GetTournamentField() const = 0;
    virtual void SetMethod(std::string_view Value) = 0;
    virtual void SetElitistPercent(float Value) = 0;
    virtual void SetTournamentField(int Value) = 0;
};

class IXMLReproduction : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLReproduction";
    virtual std::string GetCrossoverMethod() const = 0;
    virtual float GetCrossoverProbability() const = 0;
    virtual float GetInversionProbability() const = 0;
    virtual float GetMutationProbability() const = 0;
    virtual std::shared_ptr<IXMLSelectionMethod> GetSelectionMethod() = 0;
    virtual void SetCrossoverMethod(std::string_view Value) = 0;
    virtual void SetCrossoverProbability(float Value) = 0;
    virtual void SetInversionProbability(float Value) = 0;
    virtual void SetMutationProbability(float Value) = 0;
};

class IXMLGeneticAlgorithm : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLGeneticAlgorithm";
    virtual float GetDiversityLimit() const = 0;
    virtual float GetFitnessCutoff() const = 0;
    virtual std::string GetFitnessMethod() const = 0;
    virtual int GetGeneration() const = 0;
    virtual bool GetUseDiversityLimit() const = 0;
    virtual bool GetUseFitnessCutoff() const = 0;
    virtual std::shared_ptr<IXMLReproduction> GetReproduction() = 0;
    virtual std::shared_ptr<IXMLGADomainType> GetDomain() = 0;
    virtual void SetDiversityLimit(float Value) = 0;
    virtual void SetFitnessCutoff(float Value) = 0;
    virtual void SetFitnessMethod(std::string_view Value) = 0;
    virtual void SetGeneration(int Value) = 0;
    virtual void SetUseDiversityLimit(bool Value) = 0;
    virtual void SetUseFitnessCutoff(bool Value) = 0;
};

// GetGeneticAlgorithm: Doc's root bound under the tag GeneticAlgorithm (a new root when Doc is
// empty; EIntfCastError naming both roots when it has another). LoadGeneticAlgorithm: a new
// document loaded from FileName, then bound. NewGeneticAlgorithm: a new document with XML version
// "1.0" and an empty root GeneticAlgorithm. The node keeps its document alive.
std::shared_ptr<IXMLGeneticAlgorithm> GetGeneticAlgorithm(const std::shared_ptr<IXMLDocument>& Doc);
std::shared_ptr<IXMLGeneticAlgorithm> LoadGeneticAlgorithm(const std::string& FileName);
std::shared_ptr<IXMLGeneticAlgorithm> NewGeneticAlgorithm();

} // namespace kv
