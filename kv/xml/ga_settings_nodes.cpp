#include "kv/xml/ga_settings_nodes.h"

#include "kv/xml/detail/ga_domain_classes.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_lists.h"
#include "kv/xml/detail/xml_text_buffer.h"

namespace kv::detail {

namespace {

extern const TXMLNodeClass XMLGeneticAlgorithmClass;
extern const TXMLNodeClass XMLReproductionClass;
extern const TXMLNodeClass XMLSelectionMethodClass;

class TXMLSelectionMethod final : public TXMLNode, public virtual IXMLSelectionMethod {
public:
    using TXMLNode::TXMLNode;
    std::string GetMethod() const override { return ChildText("Method"); }
    float GetElitistPercent() const override { return ChildValue<float>("ElitistPercent"); }
    int GetTournamentField() const override { return ChildValue<int>("TournamentField"); }
    void SetMethod(std::string_view Value) override { SetChildValue("Method", Value); }
    void SetElitistPercent(float Value) override {
        SetChildValue("ElitistPercent", SingleText(Value).View());
    }
    void SetTournamentField(int Value) override {
        SetChildValue("TournamentField", IntegerText(Value).View());
    }
};

class TXMLReproduction final : public TXMLNode, public virtual IXMLReproduction {
public:
    using TXMLNode::TXMLNode;
    std::string GetCrossoverMethod() const override { return ChildText("CrossoverMethod"); }
    float GetCrossoverProbability() const override {
        return ChildValue<float>("CrossoverProbability");
    }
    float GetInversionProbability() const override {
        return ChildValue<float>("InversionProbability");
    }
    float GetMutationProbability() const override {
        return ChildValue<float>("MutationProbability");
    }
    std::shared_ptr<IXMLSelectionMethod> GetSelectionMethod() override {
        return ChildNodeAs<IXMLSelectionMethod>("SelectionMethod");
    }
    void SetCrossoverMethod(std::string_view Value) override {
        SetChildValue("CrossoverMethod", Value);
    }
    void SetCrossoverProbability(float Value) override {
        SetChildValue("CrossoverProbability", SingleText(Value).View());
    }
    void SetInversionProbability(float Value) override {
        SetChildValue("InversionProbability", SingleText(Value).View());
    }
    void SetMutationProbability(float Value) override {
        SetChildValue("MutationProbability", SingleText(Value).View());
    }
};

class TXMLGeneticAlgorithm final : public TXMLNode, public virtual IXMLGeneticAlgorithm {
public:
    using TXMLNode::TXMLNode;
    float GetDiversityLimit() const override { return ChildValue<float>("DiversityLimit"); }
    float GetFitnessCutoff() const override { return ChildValue<float>("FitnessCutoff"); }
    std::string GetFitnessMethod() const override { return ChildText("FitnessMethod"); }
    int GetGeneration() const override { return ChildValue<int>("Generation"); }
    bool GetUseDiversityLimit() const override { return ChildValue<bool>("UseDiversityLimit"); }
    bool GetUseFitnessCutoff() const override { return ChildValue<bool>("UseFitnessCutoff"); }
    std::shared_ptr<IXMLReproduction> GetReproduction() override {
        return ChildNodeAs<IXMLReproduction>("Reproduction");
    }
    std::shared_ptr<IXMLGADomainType> GetDomain() override {
        return ChildNodeAs<IXMLGADomainType>("Domain");
    }
    void SetDiversityLimit(float Value) override {
        SetChildValue("DiversityLimit", SingleText(Value).View());
    }
    void SetFitnessCutoff(float Value) override {
        SetChildValue("FitnessCutoff", SingleText(Value).View());
    }
    void SetFitnessMethod(std::string_view Value) override {
        SetChildValue("FitnessMethod", Value);
    }
    void SetGeneration(int Value) override {
        SetChildValue("Generation", IntegerText(Value).View());
    }
    void SetUseDiversityLimit(bool Value) override {
        SetChildValue("UseDiversityLimit", BooleanText(Value).View());
    }
    void SetUseFitnessCutoff(bool Value) override {
        SetChildValue("UseFitnessCutoff", BooleanText(Value).View());
    }
};

const TXMLChildClass GeneticAlgorithmChildren[] = {
    {"Reproduction", &XMLReproductionClass},
    {"Domain", &XMLGADomainTypeClass},
};
const TXMLChildClass ReproductionChildren[] = {{"SelectionMethod", &XMLSelectionMethodClass}};

const TXMLNodeClass XMLGeneticAlgorithmClass = {
    "TXMLGeneticAlgorithm", &CreateNodeOf<TXMLGeneticAlgorithm>, GeneticAlgorithmChildren,
    std::size(GeneticAlgorithmChildren)};
const TXMLNodeClass XMLReproductionClass = {"TXMLReproduction", &CreateNodeOf<TXMLReproduction>,
                                            ReproductionChildren, std::size(ReproductionChildren)};
const TXMLNodeClass XMLSelectionMethodClass = {"TXMLSelectionMethod",
                                               &CreateNodeOf<TXMLSelectionMethod>, nullptr, 0};

} // namespace

} // namespace kv::detail

namespace kv {

std::shared_ptr<IXMLGeneticAlgorithm>
GetGeneticAlgorithm(const std::shared_ptr<IXMLDocument>& Doc) {
    return detail::BindRootAs<IXMLGeneticAlgorithm>(Doc, "GeneticAlgorithm",
                                                    detail::XMLGeneticAlgorithmClass);
}
std::shared_ptr<IXMLGeneticAlgorithm> LoadGeneticAlgorithm(const std::string& FileName) {
    return detail::LoadRootAs<IXMLGeneticAlgorithm>(FileName, "GeneticAlgorithm",
                                                    detail::XMLGeneticAlgorithmClass);
}
std::shared_ptr<IXMLGeneticAlgorithm> NewGeneticAlgorithm() {
    return detail::NewRootAs<IXMLGeneticAlgorithm>("GeneticAlgorithm",
                                                   detail::XMLGeneticAlgorithmClass);
}

} // namespace kv
