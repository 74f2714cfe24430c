#include "kv/rtl/strings.h"

#include <algorithm>

#include "kv/rtl/list_index.h"
#include "kv/rtl/text.h"
#include "kv/rtl/update_guard.h"

namespace kv {

// ---- TStrings ----

int TStrings::AddObject(const std::string& S, TObject* AObject) {
    int Index = GetCount();
    InsertObject(Index, S, AObject);
    return Index;
}

void TStrings::AddStrings(const TStrings& Source) {
    TUpdateGuard Guard(*this);
    // Source may be this list: take the count first so the loop ends.
    int N = Source.GetCount();
    for (int I = 0; I < N; ++I)
        AddObject(Source.GetString(I), Source.GetObject(I));
}

void TStrings::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex)
        return;
    CheckListIndex(CurIndex, GetCount());
    CheckListIndex(NewIndex, GetCount());
    TUpdateGuard Guard(*this);
    std::string S = GetString(CurIndex);
    TObject* O = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, S, O);
}

void TStrings::Exchange(int Index1, int Index2) {
    CheckListIndex(Index1, GetCount());
    CheckListIndex(Index2, GetCount());
    TUpdateGuard Guard(*this);
    std::string S = GetString(Index1);
    TObject* O = GetObject(Index1);
    SetString(Index1, GetString(Index2));
    SetObject(Index1, GetObject(Index2));
    SetString(Index2, S);
    SetObject(Index2, O);
}

int TStrings::IndexOf(std::string_view S) const noexcept {
    int N = GetCount();
    for (int I = 0; I < N; ++I)
        if (SameText(GetString(I), S))
            return I;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const noexcept {
    int N = GetCount();
    for (int I = 0; I < N; ++I)
        if (GetObject(I) == AObject)
            return I;
    return -1;
}

std::string TStrings::GetText() const {
    std::string R;
    int N = GetCount();
    for (int I = 0; I < N; ++I) {
        R += GetString(I);
        R += '\n';
    }
    return R;
}

void TStrings::SetText(std::string_view Text) {
    TUpdateGuard Guard(*this);
    Clear();
    size_t Pos = 0;
    while (Pos < Text.size()) {
        size_t End = Text.find_first_of("\r\n", Pos);
        if (End == std::string_view::npos) {
            Add(std::string(Text.substr(Pos)));
            break;
        }
        Add(std::string(Text.substr(Pos, End - Pos)));
        Pos = End + 1;
        if (Text[End] == '\r' && Pos < Text.size() && Text[Pos] == '\n')
            ++Pos;
    }
}

bool TStrings::Equals(const TStrings& Other) const noexcept {
    int N = GetCount();
    if (N != Other.GetCount())
        return false;
    for (int I = 0; I < N; ++I)
        if (GetString(I) != Other.GetString(I))
            return false;
    return true;
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0)
        SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0)
        return;
    --FUpdateCount;
    if (FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::Assign(const TPersistent* Source) {
    if (const auto* Src = dynamic_cast<const TStrings*>(Source)) {
        TUpdateGuard Guard(*this);
        if (Src == this)
            return;
        Clear();
        AddStrings(*Src);
        return;
    }
    TPersistent::Assign(Source);
}

void TStrings::AssignTo(TPersistent* Dest) const {
    if (auto* D = dynamic_cast<TStrings*>(Dest)) {
        D->Assign(this);
        return;
    }
    TPersistent::AssignTo(Dest);
}

// ---- TStringList ----

const std::string& TStringList::GetString(int Index) const {
    CheckListIndex(Index, GetCount());
    return FItems[static_cast<size_t>(Index)].FString;
}

void TStringList::SetString(int Index, const std::string& S) {
    CheckListIndex(Index, GetCount());
    FItems[static_cast<size_t>(Index)].FString = S;
    Changed();
}

TObject* TStringList::GetObject(int Index) const {
    CheckListIndex(Index, GetCount());
    return FItems[static_cast<size_t>(Index)].FObject;
}

void TStringList::SetObject(int Index, TObject* AObject) {
    CheckListIndex(Index, GetCount());
    FItems[static_cast<size_t>(Index)].FObject = AObject;
    Changed();
}

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
    if (Index < 0 || Index > GetCount())
        RaiseListIndexError(Index, GetCount());
    FItems.insert(FItems.begin() + Index, TStringItem{S, AObject});
    Changed();
}

void TStringList::Delete(int Index) {
    CheckListIndex(Index, GetCount());
    FItems.erase(FItems.begin() + Index);
    Changed();
}

void TStringList::Clear() {
    if (FItems.empty())
        return;
    FItems.clear();
    Changed();
}

void TStringList::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex)
        return;
    CheckListIndex(CurIndex, GetCount());
    CheckListIndex(NewIndex, GetCount());
    auto Begin = FItems.begin();
    if (CurIndex < NewIndex)
        std::rotate(Begin + CurIndex, Begin + CurIndex + 1, Begin + NewIndex + 1);
    else
        std::rotate(Begin + NewIndex, Begin + CurIndex, Begin + CurIndex + 1);
    Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
    CheckListIndex(Index1, GetCount());
    CheckListIndex(Index2, GetCount());
    std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
    Changed();
}

void TStringList::Changed() {
    if (GetUpdateCount() == 0 && FOnChange)
        FOnChange(this);
}

void TStringList::SetUpdateState(bool Updating) {
    if (!Updating)
        Changed();
}

} // namespace kv
