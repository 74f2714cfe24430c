// TComponent: a named object with an owner that destroys it, and free notification.
//
// Ownership
//   A component created with an owner (`new TMyComponent(Owner)`) belongs to that owner: the owner
//   deletes it in its own destructor, so an owned component must live on the heap and nobody else
//   may delete it through a std::unique_ptr. A component without an owner belongs to whoever made
//   it (a stack object, a member, a std::unique_ptr). Deleting an owned component directly is fine:
//   its destructor takes it out of its owner first. The owner destroys its components last to
//   first. InsertComponent/RemoveComponent move a component between owners; RemoveComponent hands
//   the component back to the caller, who must then delete it.
//
// Notifications (virtual Notification(AComponent, Operation))
//   opInsert  sent to the owner after a component joined it (from the constructor or
//             InsertComponent). From the constructor, AComponent is still being built: the owner
//             may keep or compare the pointer but must not call its virtual functions.
//   opRemove  sent when a component is destroyed, to every component that asked for free
//             notification of it (A->FreeNotification(B) makes B hear of A's destruction), and to
//             its owner; RemoveComponent also sends it to the owner. During destruction AComponent
//             is already partly torn down: receivers compare the pointer and drop their references
//             to it, nothing else. Each receiver hears of a destruction once, even when it is both
//             the owner and a free-notification client. Components destroyed by their owner's
//             destructor are detached first and do not notify that owner.
//   Free-notification links are recorded on both sides and cleaned when either side is destroyed,
//   so a component never calls a destroyed one. Requests involving a component that is being
//   destroyed, or a component and itself, are ignored. Notifications are not passed on to the
//   receiver's own components. Exceptions raised by a Notification override while a component is
//   destroyed are discarded (a destructor cannot report them).
//
// Names
//   Name is empty or an identifier (a letter or '_' first, then letters, digits or '_') that is
//   unique, ignoring ASCII case, among the components of the same owner. SetName raises
//   EComponentError otherwise and keeps the old name; InsertComponent raises it when the new owner
//   already has a component of that name. FindComponent looks a name up among the owned components.
//
// Destruction order: the component is marked as destroying (its owned components too), the
// free-notification clients are told, the owned components are destroyed, and finally the
// component leaves its owner (which hears opRemove). A derived class's destructor body runs before
// all this; it may call Destroying() first to mark the tree while its own parts are still whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/object.h"

namespace kv {

// A component name that is not a valid identifier, a duplicate name, or an impossible owner.
class EComponentError : public Exception {
public:
    using Exception::Exception;
};

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    ~TComponent() override;

    std::string ClassName() const override { return "TComponent"; }

    const std::string& GetName() const noexcept { return FName; }
    // Renames the component; see Names above. Setting the current name again does nothing.
    virtual void SetName(const std::string& NewName);

    TComponent* GetOwner() const noexcept { return FOwner; }
    int GetComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    // The owned component at Index (0 = first inserted); EListError outside 0..Count-1.
    TComponent* GetComponent(int Index) const;
    // Position of this component in its owner's list, or -1 without an owner.
    int GetComponentIndex() const noexcept;
    // The owned component named AName (ignoring ASCII case), or nullptr; an empty name finds
    // nothing.
    TComponent* FindComponent(std::string_view AName) const noexcept;

    // Makes this component the owner of AComponent (taking it from its previous owner, which hears
    // opRemove) and sends opInsert to this component. Raises EComponentError when AComponent is
    // null, this component itself or one of its owners, is being destroyed, or its name is taken
    // here.
    void InsertComponent(TComponent* AComponent);
    // Gives up ownership of AComponent after sending opRemove to this component; the caller owns it
    // from then on. Does nothing when AComponent is not owned by this component.
    void RemoveComponent(TComponent* AComponent);
    // Destroys every owned component, last to first, without notifying this component.
    void DestroyComponents();

    // Asks for AComponent to receive Notification(this, opRemove) when this component is destroyed.
    // Asking twice records one link.
    void FreeNotification(TComponent* AComponent);
    // Cancels a FreeNotification request of AComponent.
    void RemoveFreeNotification(TComponent* AComponent);

    // True once destruction has begun (for this component or its owner).
    bool IsDestroying() const noexcept { return FDestroying; }

protected:
    // Reacts to the insertion or destruction of another component (see Notifications above).
    // The base does nothing: links are already cleaned when it is called.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Marks this component and all it owns as being destroyed. Called by the destructor; a derived
    // destructor may call it first.
    void Destroying() noexcept;

private:
    void DetachFromOwner() noexcept;
    void ValidateNameInOwner(TComponent* AOwner, const std::string& AName,
                             const TComponent* Exclude) const;

    std::string FName;
    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;   // owned, deleted by this component
    std::vector<TComponent*> FFreeNotifies; // told when this component is destroyed
    std::vector<TComponent*> FObserving;    // components whose destruction this one hears of
    bool FDestroying = false;
};

} // namespace kv
