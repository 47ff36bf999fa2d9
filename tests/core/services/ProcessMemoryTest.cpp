// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ProcessMemory.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace kolvex {
namespace {

// Threads that each allocate while all are alive: without a bound, every one gets an arena.
int arenasAfterBusyThreads(int threads) {
    std::latch allocated(threads);
    std::latch done(1);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            std::vector<void*> blocks;
            for (int j = 0; j < 64; ++j) blocks.push_back(std::malloc(4096));
            allocated.count_down();
            done.wait();
            for (void* block : blocks) std::free(block);
        });
    }
    allocated.wait();
    const int arenas = ProcessMemory::arenaCount();
    done.count_down();
    for (auto& worker : workers) worker.join();
    return arenas;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kGlibcMalloc = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kGlibcMalloc = false;
#else
constexpr bool kGlibcMalloc = true;
#endif
#else
constexpr bool kGlibcMalloc = true;
#endif

// Each case runs in a fresh process: arenas, once made, last as long as the process.
TEST(ProcessMemoryDeathTest, JobThreadsShareABoundedSetOfArenas) {
    // The sanitizer's allocator replaces glibc's, which alone has arenas.
    if (!kGlibcMalloc) GTEST_SKIP() << "glibc's malloc is replaced by the address sanitizer's";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ProcessMemory::boundArenas();
            const int arenas = arenasAfterBusyThreads(8);
            ProcessMemory::giveBack();
            std::exit(arenas >= 1 && arenas <= ProcessMemory::kArenaLimit ? 0 : 10 + arenas);
        },
        ::testing::ExitedWithCode(0), "");
    // The count itself is read right: unbounded, eight busy threads hold more than the bound.
    if (std::thread::hardware_concurrency() >= 2) {
        EXPECT_EXIT(std::exit(arenasAfterBusyThreads(8) > ProcessMemory::kArenaLimit ? 0 : 1),
                    ::testing::ExitedWithCode(0), "");
    }
}

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// What stays resident of sixteen blocks of 4 MB, touched and freed but for the last, after one
// larger block came and went (as page bitmaps and pictures do in a batch).
long keptOfFreedBlocksOnce() {
    constexpr size_t kLarge = size_t{20} << 20;
    constexpr size_t kBlock = size_t{4} << 20;
    void* large = std::malloc(kLarge);
    std::memset(large, 1, kLarge);
    std::free(large);
    const long before = residentKilobytes();
    std::vector<void*> blocks;
    for (int i = 0; i < 16; ++i) {
        blocks.push_back(std::malloc(kBlock));
        std::memset(blocks.back(), 1, kBlock);
    }
    for (size_t i = 0; i + 1 < blocks.size(); ++i) std::free(blocks[i]);
    const long kept = residentKilobytes() - before;
    std::free(blocks.back());
    return kept;
}

// The second round: the first has shown the allocator a large block freed.
long keptOfFreedBlocks() {
    (void)keptOfFreedBlocksOnce();
    return keptOfFreedBlocksOnce();
}

TEST(ProcessMemoryDeathTest, LargeBlocksGoBackToTheSystemWhenFreed) {
    if (!kGlibcMalloc) GTEST_SKIP() << "glibc's malloc is replaced by the address sanitizer's";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Only the block still in use stays, with a little to spare.
    EXPECT_EXIT(
        {
            ProcessMemory::setUp();
            std::exit(keptOfFreedBlocks() < 12 * 1024 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    // Left to itself, the allocator keeps the freed blocks.
    EXPECT_EXIT(std::exit(keptOfFreedBlocks() > 32 * 1024 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(ProcessMemory, ReleasedObjectsLiveOnOnlyWhereTheExitReclaimsThem) {
    struct Resetting {
        ~Resetting() { ProcessMemory::leaveToExit(false); }
    } resetting;
    ASSERT_FALSE(ProcessMemory::leftToExit()) << "a long-lived process frees what its jobs leave";
    auto freed = std::make_shared<int>(1);
    std::weak_ptr<int> freedWatch = freed;
    ProcessMemory::release(std::move(freed));
    EXPECT_TRUE(freedWatch.expired());

    auto held = std::make_shared<int>(2);
    auto stillHeld = held;
    ProcessMemory::release(std::move(held));
    EXPECT_EQ(*stillHeld, 2) << "another owner keeps its object";

    ProcessMemory::leaveToExit();
    auto kept = std::make_shared<int>(3);
    std::weak_ptr<int> keptWatch = kept;
    ProcessMemory::release(std::move(kept));
    ASSERT_FALSE(keptWatch.expired());
    EXPECT_EQ(*keptWatch.lock(), 3);
    ProcessMemory::release(nullptr);
}

TEST(ProcessMemory, GivesBackOnlyPagesItsFileStillHolds) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("kolvex-pages-" + std::to_string(::getpid()) + ".bin");
    constexpr size_t kBytes = 16 * 4096;
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string(kBytes, 'A');
    }
    struct Removing {
        std::filesystem::path file;
        ~Removing() { std::filesystem::remove(file); }
    } removing{file};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // One mapping only read, as a library's code is; one written to and then made read-only, as
    // a library's relocated tables are.
    auto* read = static_cast<char*>(::mmap(nullptr, kBytes, PROT_READ, MAP_PRIVATE, fd, 0));
    auto* written = static_cast<char*>(::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0));
    ::close(fd);
    ASSERT_NE(read, MAP_FAILED);
    ASSERT_NE(written, MAP_FAILED);
    size_t sum = 0;
    for (size_t at = 0; at < kBytes; at += 4096) {
        sum += static_cast<size_t>(read[at]);
        written[at] = 'B';
    }
    ASSERT_EQ(::mprotect(written, kBytes, PROT_READ), 0);

    EXPECT_EQ(ProcessMemory::dropFilePages({"/nowhere/else.so"}), 0u);
    EXPECT_EQ(ProcessMemory::dropFilePages({std::filesystem::canonical(file).string()}), kBytes);
    for (size_t at = 0; at < kBytes; at += 4096) {
        EXPECT_EQ(written[at], 'B') << "the process's own copy of page " << at / 4096 << " was lost";
        EXPECT_EQ(read[at], 'A');
    }
    EXPECT_EQ(sum, size_t{'A'} * 16);
    ::munmap(read, kBytes);
    ::munmap(written, kBytes);
}

}  // namespace
}  // namespace kolvex
