// Every task that talks to the watch, against a watch that misbehaves on each
// command the task sends, in every way a line or a watch can: no reply, a late
// one, a bad checksum, a wrong length, line noise before it, the reply cut in
// two or into single bytes, the reply twice, the line going away halfway
// through a reply, the watch restarting. Whatever happens, the host sees one
// ending (or the whole success), no block is left allocated, the port is free
// for the next call, and the task ends within a bounded time. The firmware row
// runs only with STRIDELOG_FAULT_MATRIX_FULL=1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "tests/faults/every_task.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;

// Codes after which a task posts nothing but progress: the header's tables say which.
bool is_final(UINT code) {
    switch (code) {
#define STRIDELOG_FINAL_CASE(name, value, final, meaning) \
    case name:                                            \
        return final != 0;
        STRIDELOG_ERROR_CODES(STRIDELOG_FINAL_CASE)
        STRIDELOG_RESULT_CODES(STRIDELOG_FINAL_CASE)
#undef STRIDELOG_FINAL_CASE
        default:
            return false;
    }
}

// What a host keeps of a run: each notification but progress and the version
// text (a retried version query posts the text once per reply), with its block.
using Outcome = std::vector<std::pair<UINT, Bytes>>;

Outcome outcome_of(const test::HostRecorder& host) {
    Outcome out;
    for (const auto& n : host.notifications())
        if (n.code != SDK_MSG_PROGRESS && n.code != SDK_MSG_PHASE_PROGRESS &&
            n.code != SDK_MSG_WATCH_VERSION)
            out.emplace_back(n.code, n.block);
    return out;
}

constexpr std::uint32_t kRebootMs = 5000;

struct FaultCase {
    const char* name;
    Fault fault;  // aimed at a command or a frame by the matrix
    // A watch that still answers every command correctly: the task must succeed
    // exactly as it does without the fault.
    bool harmless;
};

Fault make(FaultKind kind, std::uint32_t delay_ms = 0, int length_delta = 1,
           std::size_t cut_after = 0) {
    Fault f;
    f.kind = kind, f.delay_ms = delay_ms, f.length_delta = length_delta, f.cut_after = cut_after;
    return f;
}

const FaultCase kFaults[] = {
    {"no reply", make(FaultKind::silence), false},
    {"late reply", make(FaultKind::delay, 3500), false},  // past every timer
    {"bad checksum", make(FaultKind::bad_checksum), false},
    {"one byte too many", make(FaultKind::wrong_length), false},
    {"one byte too few", make(FaultKind::wrong_length, 0, -1), false},
    {"noise before the reply", make(FaultKind::garbage_before), true},
    {"reply in two parts", make(FaultKind::split, 5), true},
    {"reply byte by byte", make(FaultKind::byte_by_byte, 1), true},
    {"reply twice", make(FaultKind::duplicate), true},
    {"line gone before the reply", make(FaultKind::disconnect), false},
    // After the frame start and its length.
    {"line gone halfway through the reply", make(FaultKind::disconnect, 0, 1, 4), false},
    {"watch restarts", make(FaultKind::reboot, kRebootMs), false},
};

class FaultMatrix : public test::EveryTaskTest {
  protected:
    std::uint64_t now() { return platform::clock().now_ms(); }
    // Runs the task for `host`; the virtual time it took.
    std::uint64_t run(const test::WatchTask& task, test::HostRecorder& host) {
        const std::uint64_t start = now();
        task.call(host.hwnd(), FALSE);
        EXPECT_TRUE(test::run_until_task_ends(600'000)) << "no end";
        return now() - start;
    }
};

TEST_F(FaultMatrix, EveryEntryPointEveryCommandEveryFault) {
    const char* full = std::getenv("STRIDELOG_FAULT_MATRIX_FULL");
    const unsigned use = full && std::string(full) == "1" ? test::k_full_matrix : test::k_matrix;
    std::size_t cases = 0, rows = 0;
    for (const auto& task : tasks()) {
        if ((task.use & use) == 0) continue;
        ++rows;
        // The run without a fault: what success looks like, and which commands go out.
        Outcome success;
        std::vector<std::uint8_t> commands;
        std::size_t middle_frame = 0;  // 1-based; 0: the run is too short for one
        std::uint8_t middle_id = 0;
        std::uint64_t success_ms = 0;
        {
            auto bench = this->bench(task);
            test::HostRecorder host;
            success_ms = run(task, host);
            success = outcome_of(host);
            const auto sent = bench->watch.received_ids();
            for (std::uint8_t id : sent)
                if (std::find(commands.begin(), commands.end(), id) == commands.end())
                    commands.push_back(id);
            // Beyond the first of each command: one frame in the middle of a
            // long run (later reads have shorter timers than the first).
            if (sent.size() >= 8) {
                middle_frame = sent.size() / 2;
                middle_id = sent[middle_frame - 1];
            }
            ASSERT_FALSE(success.empty() && task.name != "GetWatch_Version")
                << task.name << ": " << host.describe();
            for (const auto& n : host.notifications())
                ASSERT_FALSE(n.error) << task.name << " fails without a fault";
        }
        // The status query may go unanswered: the operation then runs on the
        // default status, which changes what some results say (the used space).
        Outcome success_without_status;
        {
            auto bench = this->bench(task);
            bench->watch.add_fault(Fault::on_command(FaultKind::silence, 0x2C, -1));
            test::HostRecorder host;
            run(task, host);
            success_without_status = outcome_of(host);
        }
        auto succeeded = [&](const Outcome& outcome, std::uint8_t id) {
            return outcome == success || (id == 0x2C && outcome == success_without_status);
        };

        // Each command's first frame, then the middle frame (as target 0).
        std::vector<std::size_t> targets;
        for (std::size_t t = 1; t <= commands.size(); ++t) targets.push_back(t);
        if (middle_frame != 0) targets.push_back(0);
        for (const std::size_t target : targets) {
            const std::uint8_t id = target != 0 ? commands[target - 1] : middle_id;
            for (const auto& fault : kFaults) {
                char legend[160];
                std::snprintf(legend, sizeof legend, "%s, %s%zu (0x%02X), %s", task.name.c_str(),
                              target != 0 ? "command " : "frame ",
                              target != 0 ? target : middle_frame, id, fault.name);
                SCOPED_TRACE(legend);
                ++cases;
                const std::size_t blocks_before = platform::live_global_blocks();
                auto bench = this->bench(task);
                Fault injected = fault.fault;
                if (target != 0) injected.command = id;
                injected.frame_number = target != 0 ? 0 : middle_frame;
                bench->watch.add_fault(injected);
                std::uint64_t took = 0;
                {
                    test::HostRecorder host;
                    took = run(task, host);
                    ASSERT_FALSE(sdk::task_active_on_this_thread());
                    // One ending, then nothing but progress.
                    const auto& notes = host.notifications();
                    std::size_t finals = 0, last_final = 0;
                    for (std::size_t i = 0; i < notes.size(); ++i)
                        if (is_final(notes[i].code)) ++finals, last_final = i;
                    const Outcome outcome = outcome_of(host);
                    const bool failed = std::any_of(notes.begin(), notes.end(),
                                                    [](const auto& n) { return n.error; });
                    // Only the two tasks without a code of their own end without a
                    // final one; a success is the whole success, never part of the data.
                    if (finals == 0 || !failed) {
                        EXPECT_TRUE(succeeded(outcome, id)) << host.describe();
                    }
                    if (finals != 0) {
                        EXPECT_EQ(finals, 1u) << host.describe();
                        for (std::size_t i = last_final + 1; i < notes.size(); ++i)
                            EXPECT_EQ(notes[i].code, static_cast<UINT>(SDK_MSG_PROGRESS))
                                << "after the ending: " << host.describe();
                    }
                    if (fault.harmless) {
                        EXPECT_EQ(outcome, success) << host.describe();
                    }
                }
                EXPECT_LE(took, success_ms + task.fault_cost_ms) << "took " << took << " ms";
                expect_nothing_left(*bench, blocks_before, kRebootMs);
            }
        }
    }
    std::printf("fault matrix: %zu cases over %zu entry points and %zu faults\n", cases, rows,
                std::size(kFaults));
    RecordProperty("cases", static_cast<int>(cases));
    EXPECT_GE(cases, rows * 2 * std::size(kFaults));
}

}  // namespace
}  // namespace stridelog
