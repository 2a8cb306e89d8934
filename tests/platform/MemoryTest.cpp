#include "platform/base/Memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// An atlas-sized buffer comes from the heap, not from a mapping of its own, and stays there for the
// next one once freed.
TEST(KeepFreedMemoryForReuse, AtlasSizedBuffersStayOnTheHeap)
{
#if defined(__GLIBC__)
    KeepFreedMemoryForReuse();
    constexpr size_t kSize = 16 * 1024 * 1024;
    const size_t mappedBefore = mallinfo2().hblkhd;
    char* volatile buffer = static_cast<char*>(std::malloc(kSize));
    ASSERT_NE(buffer, nullptr);
    std::memset(buffer, 1, kSize);
    EXPECT_EQ(mallinfo2().hblkhd, mappedBefore) << "the buffer was mapped afresh";
    std::free(buffer);
    EXPECT_GE(mallinfo2().arena, kSize) << "the freed buffer went back to the system";
#else
    GTEST_SKIP() << "only glibc's heap is tuned";
#endif
}
