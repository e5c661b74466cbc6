// A private message whose wParam carries one heap object, owned by whoever
// receives it: the sender posts a std::unique_ptr, the receiver takes it back
// as one, and a message that is never delivered (its window went, its thread
// ended) frees it through the queue's drop hook. No new, delete or cast at
// either end.
//
// Threads: post from any thread; take on the receiving window's thread.
#pragma once

#include <memory>

#include "platform/window_system.hpp"
#include "stridelog/win_types.h"

namespace stridelog::link {

template <class T>
class PayloadMessage {
  public:
    constexpr explicit PayloadMessage(UINT id) : id_(id) {}
    constexpr UINT id() const { return id_; }

    // Posts `payload` to `window`; false when the window is gone (the payload
    // is freed then, as it is when the message is discarded undelivered).
    bool post(HWND window, std::unique_ptr<T> payload, LPARAM lparam = 0) const {
        if (!platform::post_message(window, id_, reinterpret_cast<WPARAM>(payload.get()), lparam,
                                    &drop))
            return false;
        payload.release();  // the message owns it now
        return true;
    }

    // The receiver's side: the payload a message with this id carries.
    static std::unique_ptr<T> take(WPARAM wparam) {
        return std::unique_ptr<T>(reinterpret_cast<T*>(wparam));
    }

    // For a receiver that does not handle the message: frees its payload when
    // the message is this one; true then.
    bool drop_if_carried(UINT message, WPARAM wparam) const {
        if (message != id_) return false;
        take(wparam);
        return true;
    }

  private:
    static void drop(UINT, WPARAM wparam, LPARAM) { take(wparam); }

    UINT id_;
};

}  // namespace stridelog::link
