// The plain notification callback: a function called with the object that fires it.
//
// Events are std::function values; an event is "assigned" when it is not empty, and an unassigned
// event is skipped. Handlers that need their own object capture it (a lambda bound to `this`).
#pragma once

#include <functional>

namespace kv {

class TObject;

using TNotifyEvent = std::function<void(TObject* Sender)>;

} // namespace kv
