// The image presenter: the task window's look as a PNG file.
#include <mutex>
#include <optional>
#include <string>

#include "platform/canvas.hpp"
#include "platform/debug_output.hpp"
#include "platform/window_system.hpp"
#include "ui/task_display.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/presenter.hpp"
#include "ui/window_renderer.hpp"

namespace stridelog::ui {
namespace {

std::string ConfirmPath(const std::string& path) {
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
    void WindowShown(const TaskDisplay&) override {}
    void WindowUpdated(const TaskDisplay&) override {}
    void WindowHidden(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        last_ = RenderTaskWindow(display);
    }

    void TaskEnded(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        if (display.Shown()) last_ = RenderTaskWindow(display);
        if (last_) Write(*last_, path_);
        last_.reset();
    }

    void ConfirmShown(const CConfirmDlg& dialog) override {
        Write(RenderConfirmDialog(dialog), ConfirmPath(path_));
        // A picture cannot answer: closing the dialog counts as No.
        platform::post_message(dialog.Window(), platform::kWmClose, 0, 0);
    }

  private:
    std::mutex mutex_;  // task windows of several threads share the one file
    std::string path_;
    std::optional<platform::Canvas> last_;
};

}  // namespace

std::shared_ptr<Presenter> MakeImagePresenter(std::string path) {
    return std::make_shared<ImagePresenter>(std::move(path));
}

}  // namespace stridelog::ui
