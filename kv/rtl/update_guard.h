// TUpdateGuard: keeps an update batch open for the lifetime of a scope.
//
// The constructor calls Target.BeginUpdate(), the destructor Target.EndUpdate(), so a batch opened
// by the library is closed on every path out of the scope, also when an exception passes. Works
// with any class that has BeginUpdate()/EndUpdate() (TCollection, TStrings and their descendants,
// the stacks and engines of the layers above).
//
//     {
//         TUpdateGuard Guard(Collection);   // Collection.BeginUpdate()
//         Collection.Clear();
//         ...                               // may throw
//     }                                     // Collection.EndUpdate(), always
//
// EndUpdate usually reports the change that the batch held back (Update, OnChange), and that
// report may itself throw:
//   - when the scope is left normally, that exception passes out of the guard's destructor;
//   - when the scope is left by an exception, the batch is still closed, but an exception raised by
//     EndUpdate is discarded so that the first exception keeps travelling (two exceptions in flight
//     would terminate the program).
// Close() ends the batch early (exceptions pass normally); the destructor then does nothing.
#pragma once

#include <exception>

namespace kv {

template <class T>
class TUpdateGuard {
public:
    explicit TUpdateGuard(T& Target) : FTarget(&Target), FUncaught(std::uncaught_exceptions()) {
        Target.BeginUpdate();
    }
    TUpdateGuard(const TUpdateGuard&) = delete;
    TUpdateGuard& operator=(const TUpdateGuard&) = delete;

    ~TUpdateGuard() noexcept(false) {
        if (FTarget == nullptr)
            return;
        T* Target = FTarget;
        FTarget = nullptr;
        if (std::uncaught_exceptions() > FUncaught) {
            try {
                Target->EndUpdate();
            } catch (...) {
                // The exception already unwinding this scope is the one the caller needs to see.
            }
        } else {
            Target->EndUpdate();
        }
    }

    // Ends the batch now; the destructor will not end it again.
    void Close() {
        if (FTarget == nullptr)
            return;
        T* Target = FTarget;
        FTarget = nullptr;
        Target->EndUpdate();
    }

private:
    T* FTarget;
    int FUncaught;
};

template <class T>
TUpdateGuard(T&) -> TUpdateGuard<T>;

} // namespace kv
