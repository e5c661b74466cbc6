#include "ui/presenter.hpp"

#include <atomic>
#include <mutex>

namespace stridelog::ui {
namespace {

std::mutex g_mutex;
std::shared_ptr<Presenter> g_presenter;
std::atomic<int> g_forced_answer{0};
ConfirmHandler g_confirm_handler;

}  // namespace

void install_presenter(std::shared_ptr<Presenter> presenter) {
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

std::shared_ptr<Presenter> installed_presenter() {
    std::lock_guard lock(g_mutex);
    return g_presenter;
}

void set_forced_confirm_answer(int answer) {
    g_forced_answer.store(answer == 6 || answer == 7 ? answer : 0);
}

int forced_confirm_answer() {
    return g_forced_answer.load();
}

void set_confirm_handler(ConfirmHandler handler) {
    std::lock_guard lock(g_mutex);
    g_confirm_handler = std::move(handler);
}

ConfirmHandler installed_confirm_handler() {
    std::lock_guard lock(g_mutex);
    return g_confirm_handler;
}

}  // namespace stridelog::ui
