// Blocks handed to the host: sizes, ownership, and injected failure.
#include "platform/global_memory.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace stridelog::platform {
namespace {

TEST(GlobalMemory, SizesOwnershipAndInjectedFailure) {
    const std::size_t live_before = live_global_blocks();
    std::vector<void*> blocks;
    for (std::size_t bytes : {std::size_t{1}, std::size_t{4}, std::size_t{7 * 4096 + 1024}}) {
        void* block = global_alloc(bytes);
        ASSERT_NE(block, nullptr) << bytes;
        EXPECT_EQ(global_size(block), bytes);
        std::memset(block, 0xA5, bytes);  // the whole size is usable
        blocks.push_back(block);
    }
    EXPECT_EQ(live_global_blocks(), live_before + 3);
    for (void* block : blocks) {
        EXPECT_EQ(global_free(block), nullptr) << "first free succeeds";
        EXPECT_EQ(global_size(block), 0u) << "no longer a live block";
        EXPECT_EQ(global_free(block), block) << "second free fails";
    }
    int not_a_block = 0;
    EXPECT_EQ(global_free(&not_a_block), &not_a_block);
    EXPECT_EQ(global_free(nullptr), nullptr);

    fail_next_global_allocs(2);
    EXPECT_EQ(global_alloc(16), nullptr);
    EXPECT_EQ(global_alloc(16), nullptr);
    void* block = global_alloc(16);
    ASSERT_NE(block, nullptr) << "only the next allocations fail";
    global_free(block);
    EXPECT_EQ(live_global_blocks(), live_before);
}

}  // namespace
}  // namespace stridelog::platform
