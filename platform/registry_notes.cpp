#include "platform/registry_notes.hpp"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "platform/registry.hpp"

namespace stridelog::platform {
namespace registry_detail {
namespace {

// Enough for every problem a person would read; a device map of garbage must
// not grow the wait without bound while no sink is installed.
constexpr std::size_t kMaxWaitingNotes = 100;

struct NoteBook {
    std::mutex mutex;
    std::unordered_set<std::string> raised;
    std::vector<std::string> waiting;  // raised while no sink was installed
    std::shared_ptr<const RegistryNoteSink> sink;
};

NoteBook& note_book() {
    static NoteBook book;
    return book;
}

// Notes bound for the sink from this thread; delivering is set while this
// thread runs the sink, so a note the sink itself raises waits its turn here.
thread_local std::deque<std::string> t_pending;
thread_local bool t_delivering = false;

void deliver_pending() {
    if (t_delivering) return;
    t_delivering = true;
    struct Done {
        ~Done() { t_delivering = false; }
    } done;
    NoteBook& book = note_book();
    while (!t_pending.empty()) {
        std::string note = std::move(t_pending.front());
        t_pending.pop_front();
        std::shared_ptr<const RegistryNoteSink> sink;
        {
            std::lock_guard lock(book.mutex);
            sink = book.sink;
            // Removed meanwhile: the note waits for the next sink.
            if (!sink && book.waiting.size() < kMaxWaitingNotes)
                book.waiting.push_back(std::move(note));
        }
        if (sink) (*sink)(note);
    }
}

}  // namespace

void raise_notes(Notes& notes) {
    if (notes.empty()) return;
    NoteBook& book = note_book();
    {
        std::lock_guard lock(book.mutex);
        for (auto& note : notes) {
            if (!book.raised.insert(note).second) continue;
            if (book.sink)
                t_pending.push_back(std::move(note));
            else if (book.waiting.size() < kMaxWaitingNotes)
                book.waiting.push_back(std::move(note));
        }
    }
    notes.clear();
    deliver_pending();
}

}  // namespace registry_detail

using registry_detail::deliver_pending;
using registry_detail::note_book;
using registry_detail::NoteBook;
using registry_detail::t_pending;

RegistryNoteSink set_registry_note_sink(RegistryNoteSink sink) {
    NoteBook& book = note_book();
    std::shared_ptr<const RegistryNoteSink> previous;
    {
        std::lock_guard lock(book.mutex);
        previous = std::move(book.sink);
        if (sink) {
            book.sink = std::make_shared<const RegistryNoteSink>(std::move(sink));
            for (auto& note : book.waiting) t_pending.push_back(std::move(note));
            book.waiting.clear();
        }
    }
    deliver_pending();
    return previous ? *previous : RegistryNoteSink{};
}

void forget_registry_notes() {
    NoteBook& book = note_book();
    std::lock_guard lock(book.mutex);
    book.raised.clear();
    book.waiting.clear();
}

}  // namespace stridelog::platform
