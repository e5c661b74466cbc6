// A watch with a used look (sessions, paths, settings, views) on a fresh
// in-process line registered as the cable, for the fault and cancel tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"

namespace stridelog::test {

// The realistic flash image, generated once per call.
inline std::vector<std::uint8_t> realistic_image() {
    sim::Watch source;
    const bool large_reserve = sim::uses_large_reserve(source.config().status_bytes);
    std::vector<std::uint8_t> image;
    source.with_flash([&](sim::Flash& flash) {
        sim::generate_realistic_flash(flash, large_reserve);
        image.assign(flash.bytes().begin(), flash.bytes().end());
    });
    return image;
}

struct RealisticBench {
    template <class Prepare>
    RealisticBench(const std::vector<std::uint8_t>& image, const std::string& line_name,
                   const sim::WatchConfig& config, Prepare prepare)
        : watch(config), line(watch, line_name) {
        watch.with_flash([&](sim::Flash& flash) {
            flash.store(0, image);
            prepare(flash);
        });
        platform::clear_injected();
        sim::register_as_cable(line, "COM7");
    }
    sim::Watch watch;
    sim::InProcessLine line;
};

}  // namespace stridelog::test
