#include "platform/base/Memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// A sanitizer's allocator replaces glibc's heap and ignores its settings.
#if defined(__SANITIZE_ADDRESS__)
#define VULTARI_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VULTARI_OWN_ALLOCATOR 1
#endif
#endif

// An atlas-sized buffer comes from the heap, not from a mapping of its own, and stays there for the
// next one once freed.
TEST(KeepFreedMemoryForReuse, AtlasSizedBuffersStayOnTheHeap)
{
#if defined(__GLIBC__) && !defined(VULTARI_OWN_ALLOCATOR)
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
    GTEST_SKIP() << "only glibc's own heap is tuned";
#endif
}
