#pragma once
// How the program's heap treats the large image buffers that each build of a head allocates.

// Keeps freed memory for the next allocation instead of handing it back to the system: the atlas
// and its masks are megabytes each, and a fresh mapping costs a page fault per page on every
// build. Call once at program start, before any thread starts.
void KeepFreedMemoryForReuse();
