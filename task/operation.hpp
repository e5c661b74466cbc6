// What an operation is.
//
// One operation (a sector read, a workout download, a path write...) is one
// class that owns its state and its steps. The task window connects, runs the
// status query and then starts the operation; afterwards it forwards to it the
// completions of the flash transfers it started, the acknowledgements of its
// other commands and the expiries of its timers. The operation posts its data,
// then exactly one final notification, then ends the task. It reaches the task
// only through its TaskHost.
//
// Threads: everything here runs on the task window's thread.
#pragma once

#include <cstdint>

#include "stridelog/win_types.h"
#include "task/catalogue.hpp"
#include "task/task_host.hpp"

namespace stridelog::task {

class Operation {
  public:
    explicit Operation(TaskHost& host) : host_(host) {}
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    virtual OperationCode code() const = 0;
    // At task start, before the connection (captions, rate display).
    virtual void prepare() {}
    // After the status query: the first read or command.
    virtual void start() = 0;
    // A read run this operation started has delivered all its bytes.
    virtual void on_read_complete(int step_code) { (void)step_code; }
    // The last chunk of a sector write this operation started was acknowledged.
    virtual void on_write_complete(int step_code) { (void)step_code; }
    // The watch acknowledged a command this operation sent (expiry date,
    // program update, clock): the reply id, and the status byte where the
    // reply has one.
    virtual void on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) {
        (void)reply_id;
        (void)status;
    }
    // A timer of the task window fired; true when the operation handled it.
    virtual bool on_timer(UINT_PTR id) {
        (void)id;
        return false;
    }
    // The reply to a query_status(); the facts hold its status bytes.
    virtual void on_status_reply() {}
    // A private message of a worker this operation started (downloads); true
    // when handled, and then the operation owns whatever the message carried.
    virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam) {
        (void)message;
        (void)wparam;
        (void)lparam;
        return false;
    }
    // The task is ending: stop every worker before the window goes.
    virtual void on_task_end() {}

  protected:
    TaskHost& host() { return host_; }

  private:
    TaskHost& host_;
};

}  // namespace stridelog::task
