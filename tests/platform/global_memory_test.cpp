// Blocks handed to the host: sizes, ownership, and injected failure.
#include "platform/global_memory.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace stridelog::platform {
namespace {

TEST(GlobalMemory, SizesAndOwnership) {
    const std::size_t live_before = live_global_blocks();
    struct Case {
        const char* legend;
        std::size_t bytes;
    };
    const Case cases[] = {
        {"four-byte port list of no names", 4},
        {"one sector", 4096},
        {"the largest session block", 7 * 4096 + 1024},
        {"a single byte", 1},
    };
    std::vector<void*> blocks;
    for (const auto& c : cases) {
        void* block = global_alloc(c.bytes);
        ASSERT_NE(block, nullptr) << c.legend;
        EXPECT_EQ(global_size(block), c.bytes) << c.legend;
        std::memset(block, 0xA5, c.bytes);  // the whole size is usable
        blocks.push_back(block);
    }
    EXPECT_EQ(live_global_blocks(), live_before + std::size(cases));
    for (void* block : blocks) {
        EXPECT_EQ(global_free(block), nullptr) << "first free succeeds";
        EXPECT_EQ(global_size(block), 0u) << "no longer a live block";
        EXPECT_EQ(global_free(block), block) << "second free fails";
    }
    EXPECT_EQ(live_global_blocks(), live_before);

    int not_a_block = 0;
    EXPECT_EQ(global_free(&not_a_block), &not_a_block);
    EXPECT_EQ(global_size(&not_a_block), 0u);
    EXPECT_EQ(global_free(nullptr), nullptr);
}

TEST(GlobalMemory, InjectedFailuresHitTheNextAllocationsOnly) {
    const std::size_t live_before = live_global_blocks();
    fail_next_global_allocs(2);
    EXPECT_EQ(global_alloc(16), nullptr);
    EXPECT_EQ(global_alloc(16), nullptr);
    void* block = global_alloc(16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(live_global_blocks(), live_before + 1);
    global_free(block);
    EXPECT_EQ(live_global_blocks(), live_before);
}

}  // namespace
}  // namespace stridelog::platform
