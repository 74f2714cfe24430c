#include "kv/gp/execution_stack.h"

#include "kv/rtl/strings.h"
#include "kv/rtl/update_guard.h"

namespace kv {

void TVMExecutionStackNode::Assign(const TPersistent* Source) {
    if (auto* Other = dynamic_cast<const TVMExecutionStackNode*>(Source))
        FValue = Other->FValue;
    TSQNode::Assign(Source);
}

void TVMExecutionStack::Assign(const TPersistent* Source) {
    if (auto* List = dynamic_cast<const TStrings*>(Source)) {
        TUpdateGuard Guard(*this);
        Clear();
        for (int I = List->GetCount() - 1; I >= 0; --I)
            Push(Variant(List->GetString(I)));
        return;
    }
    Base::Assign(Source);
}

void TVMExecutionStack::AssignTo(TPersistent* Dest) const {
    if (auto* List = dynamic_cast<TStrings*>(Dest)) {
        TUpdateGuard Guard(*List);
        List->Clear();
        for (const TVMExecutionStackNode* N = GetFirst(); N != nullptr; N = Next(N))
            List->Add(VarToStr(N->GetValue()));
        return;
    }
    Base::AssignTo(Dest);
}

std::string TVMExecutionStack::ToString() const {
    std::string Text;
    for (const TVMExecutionStackNode* N = GetFirst(); N != nullptr; N = Next(N)) {
        Text += VarToStr(N->GetValue());
        Text += NewLineString;
    }
    return Text;
}

} // namespace kv
