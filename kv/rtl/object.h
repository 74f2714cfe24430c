// TObject and TPersistent: the root of the library's class tree and the copy protocol.
//
// TObject gives every class a virtual destructor, its own class name and a text form.
// TPersistent adds Assign/AssignTo: Target.Assign(Source) copies Source when Target's class knows
// it; otherwise it asks Source->AssignTo(Target), so either side may implement the copy. When
// neither does, the root AssignTo raises EConvertError "Cannot assign a <source> to a <target>".
// Neither class owns anything.
#pragma once

#include <string>

namespace kv {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The class name as the library's users know it ("TKvGeneticAlgorithm"); each class overrides
    // it.
    virtual std::string ClassName() const { return "TObject"; }
    // A printable form of the object; by default its class name.
    virtual std::string ToString() const { return ClassName(); }
};

class TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }

    // Copies Source into this object. The base asks Source->AssignTo(this); a nullptr Source is
    // reported as "nil" in the cannot-assign error.
    virtual void Assign(const TPersistent* Source);
    // Copies this object into Dest when this class knows Dest's class; the base raises the
    // cannot-assign error. Public so that a class's Assign can fall back on any source.
    virtual void AssignTo(TPersistent* Dest) const;

protected:
    // Raises EConvertError "Cannot assign a <Source> to a <this>".
    [[noreturn]] void AssignError(const TPersistent* Source) const;
};

} // namespace kv
