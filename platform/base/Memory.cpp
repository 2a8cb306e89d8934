#include "platform/base/Memory.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Buffers up to the largest threshold glibc accepts come from the heap, and a freed heap top is
    // trimmed only beyond a size no build reaches; both together, or fixing the trim threshold
    // alone turns off glibc's own threshold and maps every buffer afresh.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}
