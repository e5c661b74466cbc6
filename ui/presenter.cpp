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

void InstallPresenter(std::shared_ptr<Presenter> presenter) {
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

std::shared_ptr<Presenter> InstalledPresenter() {
    std::lock_guard lock(g_mutex);
    return g_presenter;
}

void SetForcedConfirmAnswer(int answer) {
    g_forced_answer.store(answer == 6 || answer == 7 ? answer : 0);
}

int ForcedConfirmAnswer() {
    return g_forced_answer.load();
}

void SetConfirmHandler(ConfirmHandler handler) {
    std::lock_guard lock(g_mutex);
    g_confirm_handler = std::move(handler);
}

ConfirmHandler InstalledConfirmHandler() {
    std::lock_guard lock(g_mutex);
    return g_confirm_handler;
}

}  // namespace stridelog::ui
