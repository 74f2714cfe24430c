// TStrings and TStringList: an ordered list of texts, each with an optional object reference.
//
// TStrings is the interface every list of texts offers (what the library's operations take:
// program lines, enumeration values, stack contents); TStringList is the one concrete list, kept in
// a vector. Objects attached to lines (AddObject, SetObject) are not owned: the list never deletes
// them.
//
// Searching: IndexOf compares ignoring ASCII case and returns the first match, or -1.
// Text form: GetText joins the lines, each followed by "\n"; SetText splits at "\r\n", "\n" or
// "\r", and a line break at the very end does not start another line ("a\nb\n" gives a, b; "" gives
// no line).
//
// Change event (TStringList::OnChange, a TNotifyEvent called with the list)
//   Fired after every change made outside a batch: Add/Insert, Delete, SetString, SetObject,
//   Move, Exchange, and Clear of a non-empty list. BeginUpdate/EndUpdate nest; inside a batch
//   nothing fires, and the outermost EndUpdate fires once, whether or not the batch changed
//   anything. Assign, SetText and AddStrings are batches of their own, so each fires once.
//   Assigning a list to itself keeps its lines and still fires once.
//
// Assignment: Assign from another TStrings copies its lines and objects; from any other object it
// asks that object's AssignTo (a collection of the common layer fills the list with its items'
// display names). AssignTo a TStrings copies into it; to anything else, the cannot-assign error.
//
// Errors: an index outside the list raises EListError naming the index and the count (Insert
// accepts 0..Count).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kv/rtl/notify_event.h"
#include "kv/rtl/object.h"

namespace kv {

class TStrings : public TPersistent {
public:
    std::string ClassName() const override { return "TStrings"; }

    virtual int GetCount() const noexcept = 0;
    virtual const std::string& GetString(int Index) const = 0;
    virtual void SetString(int Index, const std::string& S) = 0;
    virtual TObject* GetObject(int Index) const = 0;
    virtual void SetObject(int Index, TObject* AObject) = 0;
    virtual void InsertObject(int Index, const std::string& S, TObject* AObject) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;

    const std::string& operator[](int Index) const { return GetString(Index); }

    // Appends S and returns its index.
    int Add(const std::string& S) { return AddObject(S, nullptr); }
    int AddObject(const std::string& S, TObject* AObject);
    void Insert(int Index, const std::string& S) { InsertObject(Index, S, nullptr); }
    // Appends every line (and object) of Source, as one batch.
    void AddStrings(const TStrings& Source);
    // Moves the line at CurIndex to NewIndex, as one change.
    virtual void Move(int CurIndex, int NewIndex);
    // Swaps two lines (with their objects), as one change.
    virtual void Exchange(int Index1, int Index2);

    // Index of the first line equal to S ignoring ASCII case, or -1.
    virtual int IndexOf(std::string_view S) const noexcept;
    // Index of the first line whose object is AObject, or -1.
    int IndexOfObject(const TObject* AObject) const noexcept;

    std::string GetText() const;
    // Replaces the lines by those of Text, as one batch.
    void SetText(std::string_view Text);

    // True when both lists hold the same lines in the same order (case-sensitive; objects ignored).
    bool Equals(const TStrings& Other) const noexcept;

    void BeginUpdate();
    void EndUpdate();
    int GetUpdateCount() const noexcept { return FUpdateCount; }

    void Assign(const TPersistent* Source) override;
    void AssignTo(TPersistent* Dest) const override;
    std::string ToString() const override { return GetText(); }

protected:
    // Called when the outermost batch opens (true) and closes (false).
    virtual void SetUpdateState(bool /*Updating*/) {}

private:
    int FUpdateCount = 0;
};

class TStringList : public TStrings {
public:
    TStringList() = default;
    std::string ClassName() const override { return "TStringList"; }

    int GetCount() const noexcept override { return static_cast<int>(FItems.size()); }
    const std::string& GetString(int Index) const override;
    void SetString(int Index, const std::string& S) override;
    TObject* GetObject(int Index) const override;
    void SetObject(int Index, TObject* AObject) override;
    void InsertObject(int Index, const std::string& S, TObject* AObject) override;
    void Delete(int Index) override;
    void Clear() override;
    void Move(int CurIndex, int NewIndex) override;
    void Exchange(int Index1, int Index2) override;

    const TNotifyEvent& GetOnChange() const noexcept { return FOnChange; }
    void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

protected:
    // Fires OnChange unless a batch is open.
    virtual void Changed();
    void SetUpdateState(bool Updating) override;

private:
    struct TStringItem {
        std::string FString;
        TObject* FObject;
    };
    std::vector<TStringItem> FItems;
    TNotifyEvent FOnChange;
};

} // namespace kv
