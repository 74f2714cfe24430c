// Internal: the list classes of the typed documents, over TXMLItems, and the binding of a
// document's root to a typed node.
#pragma once

#include "kv/rtl/exceptions.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_text_buffer.h"

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace kv::detail {

// The IXMLNodeCollection part of a list interface IList, over the items of one name.
template <class IList>
class TXMLItemList : public IList {
public:
    TXMLItemList(TXMLNode& Owner, const char* ItemName) noexcept : FItems(Owner, ItemName) {}

    int GetCount() const override { return FItems.Count(); }
    std::shared_ptr<IXMLNode> GetNode(int Index) const override {
        return FItems.Wrap(FItems.Item(Index));
    }
    void Clear() override { FItems.Clear(); }
    void Delete(int Index) override { FItems.Delete(Index); }
    int Remove(const std::shared_ptr<IXMLNode>& Node) override { return FItems.Remove(Node); }

protected:
    TXMLItems FItems;
};

// A list of typed nodes (IList's Add/Insert/GetItem give IItem). The item class is the one the
// owner registers for the item name.
template <class IList, class IItem>
class TXMLNodeItemList final : public TXMLItemList<IList> {
    using TXMLItemList<IList>::FItems;

public:
    using TXMLItemList<IList>::TXMLItemList;

    std::shared_ptr<IItem> Add() override {
        return TXMLNode::CastNode<IItem>(FItems.Wrap(FItems.Add()));
    }
    std::shared_ptr<IItem> Insert(int Index) override {
        return TXMLNode::CastNode<IItem>(FItems.Wrap(FItems.Insert(Index)));
    }
    std::shared_ptr<IItem> GetItem(int Index) const override {
        return TXMLNode::CastNode<IItem>(FItems.Wrap(FItems.Item(Index)));
    }
};

// A list of values of type T (std::string for texts), written from In.
template <class IList, class T, class In = T>
class TXMLValueItemList final : public TXMLItemList<IList> {
    using TXMLItemList<IList>::FItems;

public:
    using TXMLItemList<IList>::TXMLItemList;

    void Add(In Value) override {
        auto Text = ValueText(Value);
        std::string_view View = TextView(Text);
        FItems.Add(&View, IsNumberOrBoolean);
    }
    void Insert(int Index, In Value) override {
        auto Text = ValueText(Value);
        std::string_view View = TextView(Text);
        FItems.Insert(Index, &View, IsNumberOrBoolean);
    }
    T GetItem(int Index) const override {
        const TNodeValue V(FItems.Item(Index));
        if constexpr (std::is_same_v<T, std::string>)
            return V.Get() ? V.Get() : "";
        else
            return ConvertRequired<T>(V.Get(), FItems.Site(Index));
    }

private:
    // The text forms of numbers and booleans are plain ASCII: no need to validate them.
    static constexpr bool IsNumberOrBoolean = !std::is_same_v<T, std::string>;

    static auto ValueText(In Value) {
        if constexpr (std::is_same_v<T, bool>)
            return BooleanText(Value);
        else if constexpr (std::is_same_v<T, int>)
            return IntegerText(Value);
        else if constexpr (std::is_same_v<T, float>)
            return SingleText(Value);
        else
            return std::string_view(Value);
    }
    static std::string_view TextView(const TXMLValueText& Text) { return Text.View(); }
    static std::string_view TextView(std::string_view S) { return S; }
};

// The TXMLDocument behind Doc: EXmlError for none, EIntfCastError for another implementation.
TXMLDocument& DocumentOf(const std::shared_ptr<IXMLDocument>& Doc);

// Doc's root bound as interface I under Tag with node class Class.
template <class I>
std::shared_ptr<I> BindRootAs(const std::shared_ptr<IXMLDocument>& Doc, const char* Tag,
                              const TXMLNodeClass& Class) {
    return TXMLNode::CastNode<I>(DocumentOf(Doc).BindRoot(Tag, Class, I::InterfaceName));
}

template <class I>
std::shared_ptr<I> LoadRootAs(const std::string& FileName, const char* Tag,
                              const TXMLNodeClass& Class) {
    return BindRootAs<I>(LoadXMLDocument(FileName), Tag, Class);
}

template <class I>
std::shared_ptr<I> NewRootAs(const char* Tag, const TXMLNodeClass& Class) {
    return BindRootAs<I>(NewXMLDocument("1.0"), Tag, Class);
}

} // namespace kv::detail
