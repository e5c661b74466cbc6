// The image presenter: the task window's look as a PNG file.
#include <mutex>
#include <optional>
#include <string>

#include "platform/canvas.hpp"
#include "platform/debug_output.hpp"
#include "platform/window_system.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/presenter.hpp"
#include "ui/task_display.hpp"
#include "ui/window_renderer.hpp"

namespace stridelog::ui {
namespace {

std::string confirm_path(const std::string& path) {
    const std::string suffix = ".png";
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        return path.substr(0, path.size() - suffix.size()) + "-confirm.png";
    return path + "-confirm.png";
}

void Write(const platform::Canvas& canvas, const std::string& path) {
    if (!canvas.write_png(path)) platform::debug_output("Cannot write the image " + path + "\r\n");
}

class ImagePresenter final : public Presenter {
  public:
    explicit ImagePresenter(std::string path) : path_(std::move(path)) {}

    // Rendering waits for the moment a look has to be kept: when the window is
    // hidden, or when the task ends while it is shown.
    void window_shown(const TaskDisplay&) override {}
    void window_updated(const TaskDisplay&) override {}
    void window_hidden(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        last_ = render_task_window(display);
    }

    void task_ended(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        if (display.shown()) last_ = render_task_window(display);
        if (last_) Write(*last_, path_);
        last_.reset();
    }

    void confirm_shown(const CConfirmDlg& dialog) override {
        Write(render_confirm_dialog(dialog), confirm_path(path_));
        // A picture cannot answer: closing the dialog counts as No.
        platform::post_message(dialog.window(), platform::kWmClose, 0, 0);
    }

  private:
    std::mutex mutex_;  // task windows of several threads share the one file
    std::string path_;
    std::optional<platform::Canvas> last_;
};

}  // namespace

std::shared_ptr<Presenter> make_image_presenter(std::string path) {
    return std::make_shared<ImagePresenter>(std::move(path));
}

}  // namespace stridelog::ui
