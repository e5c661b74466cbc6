#include "host_session.hpp"

#include <cstdio>

#include "raw_recorder.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog_tool {

HostSession::HostSession(bool print_progress, RawRecorder* raw)
    : print_progress_(print_progress), raw_(raw) {
    error_id_ = Stridelog_ErrorMessageId();
    result_id_ = Stridelog_ResultMessageId();
    window_ = Stridelog_CreateHostWindow(&HostSession::proc, this);
}

HostSession::~HostSession() {
    Stridelog_DestroyHostWindow(window_);
}

LRESULT HostSession::proc(void* context, HWND, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = static_cast<HostSession*>(context);
    if (message != self->error_id_ && message != self->result_id_) return 0;
    Note note;
    note.error = message == self->error_id_;
    note.code = static_cast<UINT>(wparam);
    if (lparam != 0) {
        void* block = reinterpret_cast<void*>(lparam);
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        note.block.assign(bytes, bytes + Stridelog_BlockSize(block));
        note.has_block = true;
        Stridelog_FreeBlock(block);
        if (self->raw_ != nullptr) self->raw_->record(note.code, note.block);
    }
    if (self->print_progress_ && !note.error && note.code == SDK_MSG_PROGRESS) {
        if (const auto progress = stridelog::hostkit::parse_progress_block(note.block))
            std::fprintf(stderr, "progress %.1f %%\n", static_cast<double>(progress->percent));
    }
    if (self->observer_) self->observer_(note);
    self->notes_.push_back(std::move(note));
    return 0;
}

bool HostSession::wait_for_task(std::uint32_t timeout_ms) {
    const bool ended = Stridelog_RunUntil([](void*) -> int { return !Stridelog_TaskActive(); },
                                          nullptr, timeout_ms);
    drain();  // what the task posted just before it ended
    return ended;
}

void HostSession::drain() {
    while (Stridelog_PumpMessages(0) > 0) {
    }
}

bool HostSession::wait_for_notifications(std::size_t count, std::uint32_t timeout_ms) {
    struct Ctx {
        HostSession* self;
        std::size_t count;
    } ctx{this, count};
    return Stridelog_RunUntil(
        [](void* c) -> int {
            auto* x = static_cast<Ctx*>(c);
            return x->self->notes_.size() >= x->count;
        },
        &ctx, timeout_ms);
}

const Note* HostSession::first_error() const {
    for (const auto& n : notes_)
        if (n.error) return &n;
    return nullptr;
}

const Note* HostSession::find(UINT code) const {
    for (const auto& n : notes_)
        if (!n.error && n.code == code) return &n;
    return nullptr;
}

}  // namespace stridelog_tool
