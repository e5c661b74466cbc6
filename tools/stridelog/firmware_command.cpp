// firmware check|update: what firmware the FTP server offers the watch, and
// writing it, with the account from the command line or the config file.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.hpp"
#include "firmware_report.hpp"
#include "host_session.hpp"
#include "progress_printer.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog_tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCancelWaitMs = 5000;  // a cancelled task ends on its next message
constexpr std::uint32_t kSliceMs = 250;        // how often the silence of a restart is looked at
constexpr std::uint32_t kReconnectS = 70;      // the SDK gives up waiting for the watch after this
constexpr int kYes = 6;
constexpr int kNo = 7;
// Description, history, settings file and image: each download has the limit.
constexpr std::uint32_t kDownloads = 4;

void record(FirmwareOffer& offer, const char* caption, const char* message,
            const char* const* lines, std::size_t count) {
    offer.asked = true;
    offer.caption = caption != nullptr ? caption : "";
    offer.message = message != nullptr ? message : "";
    offer.notes.clear();
    for (std::size_t i = 0; i < count; ++i)
        offer.notes.emplace_back(lines != nullptr && lines[i] != nullptr ? lines[i] : "");
}

// check: looks at the offer and declines it, so the watch is never written.
int record_and_decline(void* context, const char* caption, const char* message,
                       const char* const* lines, std::size_t count) {
    record(*static_cast<FirmwareOffer*>(context), caption, message, lines, count);
    return kNo;
}

struct Asking {
    const Context* context = nullptr;
    bool yes = false;
    ProgressPrinter* printer = nullptr;
    FirmwareOffer offer;
    bool agreed = false;
    Clock::duration spent{};  // time the question waited for the user: not the watch's
};

// update: the notes and the question on the terminal; Yes only from the user
// (or --yes).
int ask_user(void* context, const char* caption, const char* message, const char* const* lines,
             std::size_t count) {
    auto& asking = *static_cast<Asking*>(context);
    const auto began = Clock::now();
    record(asking.offer, caption, message, lines, count);
    asking.printer->finish();
    const auto notes = note_lines(asking.offer.notes, "  ");
    if (!notes.empty()) {
        std::fprintf(stderr, "Release notes:\n");
        for (const auto& line : notes) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr,
                 "Save what the watch holds first: `stridelog backup --out watch.bin` keeps its "
                 "whole flash, `stridelog workouts download` its workouts.\n\n");
    std::fprintf(stderr, "%s [y/N] ", terminal_text(asking.offer.message).c_str());
    if (asking.yes) {
        std::fprintf(stderr, "yes (--yes)\n");
        asking.agreed = true;
        return kYes;
    }
    std::fflush(stderr);
    const std::optional<std::string> answer = read_answer(*asking.context);
    asking.spent += Clock::now() - began;
    asking.agreed = answer && is_yes(*answer);
    return asking.agreed ? kYes : kNo;
}

// Runs FirmwareUpdate to its end (false: it did not end within wait_s, not
// counting the time the question waited for the user); on_slice runs between
// slices of the wait.
bool run_task(const FtpAccount& account, HostSession& session, std::uint32_t wait_s,
              const Clock::duration* asking, const std::function<void()>& on_slice) {
    const std::u16string server = stridelog::hostkit::utf8_to_utf16(account.server);
    const std::u16string user = stridelog::hostkit::utf8_to_utf16(account.user);
    const std::u16string password = stridelog::hostkit::utf8_to_utf16(account.password);
    const std::u16string folder = stridelog::hostkit::utf8_to_utf16(account.folder);
    const std::u16string fifth = stridelog::hostkit::utf8_to_utf16(account.fifth);
    // Always shown: a hidden task would write the firmware without asking.
    FirmwareUpdate(session.window(), server.c_str(), user.c_str(), password.c_str(), folder.c_str(),
                   fifth.c_str(), TRUE, account.limit_s * 1000U, account.passive ? TRUE : FALSE);
    const auto start = Clock::now();
    const auto budget = std::chrono::seconds(wait_s);
    for (;;) {
        if (session.wait_for_task(kSliceMs)) return true;
        if (on_slice) on_slice();
        const auto waited =
            Clock::now() - start - (asking != nullptr ? *asking : Clock::duration{});
        if (waited > budget) return false;
    }
}

int not_ended(HostSession& session, std::uint32_t wait_s) {
    std::fprintf(stderr, "error: the watch did not finish in %u s\n", wait_s);
    Stridelog_CancelTasks();  // through the task end, so the port is released
    session.wait_for_task(kCancelWaitMs);
    return kExitError;
}

int report_firmware_error(const Note& error, const FtpAccount& account) {
    std::fprintf(stderr, "%s\n", firmware_error_text(error.code, account.limit_s).c_str());
    return firmware_exit_status(error.code);
}

void print_up_to_date(bool json) {
    if (json) {
        std::cout << nlohmann::json{{"firmware", "up_to_date"}}.dump() << "\n";
    } else {
        std::cout << "the watch's firmware is up to date\n";
    }
}

std::string watch_version(const HostSession& session) {
    const Note* version = session.find(SDK_MSG_WATCH_VERSION);
    return version != nullptr ? std::string(version->block.begin(), version->block.end()) : "";
}

}  // namespace

FirmwareCheckOutcome run_firmware_check_task(const Context& context, const FtpAccount& account) {
    const Options& opt = context.options;
    FirmwareCheckOutcome outcome;
    HostSession session(false, context.raw);
    FirmwareOffer offer;
    Stridelog_SetConfirmAnswer(0);  // the handler below answers, never a forced Yes
    Stridelog_SetConfirmHandler(&record_and_decline, &offer);
    const std::uint32_t wait_s = 2 * account.limit_s + opt.timeout_s;
    const bool ended = run_task(account, session, wait_s, nullptr, {});
    if (!ended) {
        outcome.status = not_ended(session, wait_s);
        Stridelog_SetConfirmHandler(nullptr, nullptr);
        return outcome;
    }
    Stridelog_SetConfirmHandler(nullptr, nullptr);
    if (context.interrupted()) return outcome;  // the caller reports the interruption
    if (const Note* e = session.first_error()) {
        outcome.error = firmware_error_text(e->code, account.limit_s);
        outcome.status = firmware_exit_status(e->code);
        return outcome;
    }
    outcome.watch = watch_version(session);
    if (session.find(SDK_MSG_FIRMWARE_CURRENT) != nullptr) {
        outcome.status = kExitOk;
        outcome.result = FirmwareCheckOutcome::Result::current;
        return outcome;
    }
    if (!offer.asked) {
        outcome.error = error_line(session, "the task ended without its result");
        return outcome;
    }
    outcome.status = kExitOk;
    outcome.result = FirmwareCheckOutcome::Result::available;
    outcome.offered = offered_version(offer.message);
    outcome.notes = note_lines(offer.notes, "");
    return outcome;
}

int run_firmware_check(const Context& context, const FtpAccount& account) {
    const FirmwareCheckOutcome outcome = run_firmware_check_task(context, account);
    if (outcome.result == FirmwareCheckOutcome::Result::failed) {
        if (!outcome.error.empty()) std::fprintf(stderr, "%s\n", outcome.error.c_str());
        return outcome.status;
    }
    const bool json = context.options.json;
    if (outcome.result == FirmwareCheckOutcome::Result::current) {
        print_up_to_date(json);
        return kExitOk;
    }
    if (json) {
        nlohmann::json out{
            {"firmware", "available"},
            {"offered", outcome.offered ? nlohmann::json(*outcome.offered) : nullptr},
            {"watch_version", outcome.watch},
            {"release_notes", outcome.notes}};
        std::cout << out.dump() << "\n";
    } else {
        std::cout << "firmware " << outcome.offered.value_or("(unnamed)") << " is available";
        if (!outcome.watch.empty()) std::cout << " (the watch runs " << outcome.watch << ")";
        std::cout << "\n";
        if (outcome.notes.empty()) {
            std::cout << "no release notes\n";
        } else {
            std::cout << "release notes:\n";
            for (const auto& line : outcome.notes)
                std::cout << (line.empty() ? "" : "  ") << line << "\n";
        }
    }
    std::fprintf(stderr,
                 "nothing was written to the watch; `stridelog firmware update` installs it "
                 "(and erases the watch's workouts)\n");
    return kExitOk;
}

int run_firmware_update(const Context& context, const FtpAccount& account, bool yes) {
    const Options& opt = context.options;
    // Refused before the watch is touched rather than taken as yes, so a
    // script never rewrites the watch by accident.
    if (!yes && ::isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr,
                     "error: updating the firmware erases the watch's workouts and needs a yes, "
                     "and there is no terminal to ask on; pass --yes to update\n");
        return kExitUsage;
    }
    HostSession session(false, context.raw);
    ProgressPrinter printer(::isatty(STDERR_FILENO) == 1);
    RestartWatch restart;
    bool holding = false;
    const auto start = Clock::now();
    const auto now_s = [start] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    session.set_observer([&](const Note& note) {
        if (note.error || note.code != SDK_MSG_PHASE_PROGRESS) return;
        const auto read = stridelog::hostkit::parse_phase_progress_block(note.block);
        if (!read) return;
        const PhaseProgress& progress = *read;
        const double at = now_s();
        const double silent = restart.silent_for(at);
        // With --show the task window's own lines tell the progress.
        if (restart.take(progress.phase, at) == RestartWatch::Event::back) {
            char line[96];
            std::snprintf(line, sizeof line, "the watch answers again, after %.0f s", silent);
            printer.notice(line);
        }
        // From the first write on, stopping would leave the watch half written
        // and its settings cleared.
        if (progress.phase == stridelog::hostkit::kPhaseFirmwareTransfer && !holding &&
            context.hold_interrupt) {
            context.hold_interrupt(true);
            holding = true;
        }
        if (!opt.show) printer.take(note);
    });
    Asking asking;
    asking.context = &context;
    asking.yes = yes;
    asking.printer = &printer;
    Stridelog_SetConfirmAnswer(0);
    Stridelog_SetConfirmHandler(&ask_user, &asking);
    const std::uint32_t wait_s = kDownloads * account.limit_s + kReconnectS + opt.timeout_s;
    const bool ended = run_task(account, session, wait_s, &asking.spent, [&] {
        if (restart.tick(now_s()) == RestartWatch::Event::restarting)
            printer.notice("the watch restarts with its new firmware; reconnecting takes up to " +
                           std::to_string(kReconnectS) + " s");
    });
    printer.finish();
    Stridelog_SetConfirmHandler(nullptr, nullptr);
    // Whatever the end, a Ctrl-C held meanwhile is reported after the result.
    struct Release {
        const Context& context;
        bool held;
        ~Release() {
            if (held) context.hold_interrupt(false);
        }
    } release{context, holding};
    if (!ended) return not_ended(session, wait_s);
    if (context.interrupted()) return kExitError;  // the caller reports the interruption
    if (const Note* e = session.first_error()) return report_firmware_error(*e, account);
    const std::optional<std::string> offered = offered_version(asking.offer.message);
    if (session.find(SDK_MSG_FIRMWARE_UPDATED) != nullptr) {
        if (opt.json) {
            std::cout << nlohmann::json{{"firmware", "updated"},
                                        {"version", offered ? nlohmann::json(*offered) : nullptr}}
                             .dump()
                      << "\n";
        } else if (offered) {
            std::cout << "firmware updated to " << *offered << "\n";
        } else {
            std::cout << "firmware updated\n";
        }
        return kExitOk;
    }
    if (session.find(SDK_MSG_FIRMWARE_CURRENT) != nullptr) {
        // After a yes, the same answer means the offered file is no firmware image.
        if (asking.agreed)
            std::fprintf(stderr,
                         "note: the server offered %s, but its file is not a .fw2 firmware "
                         "image; nothing was written to the watch\n",
                         offered.value_or("a firmware").c_str());
        print_up_to_date(opt.json);
        return kExitOk;
    }
    if (asking.offer.asked && !asking.agreed) {
        std::fprintf(stderr, "no update: nothing was written to the watch\n");
        return kExitError;
    }
    return report_error(session, "the task ended without its result");
}

}  // namespace stridelog_tool
