// A bump allocator for many small blocks that live and die together: the configuration
// dictionary takes its sections and entries from one when it is given one, so a large file
// costs one allocation per megabyte instead of one per line.
#pragma once

#include <cstddef>

namespace corvanelib {

class BlockAllocator {
public:
    // Usable bytes of one chunk; a single request can never exceed it.
    static constexpr std::size_t kChunkSize = 1048576;
    // Every block starts on this boundary, so any object can be placed in it.
    static constexpr std::size_t kAlignment = alignof(std::max_align_t);

    using ChunkSource = void* (*)(std::size_t bytes);

    // `source` obtains raw chunks (std::malloc unless given); it must return memory aligned for
    // any object, or null when it has none. Chunks are released with std::free.
    explicit BlockAllocator(ChunkSource source = nullptr) noexcept;
    ~BlockAllocator();
    BlockAllocator(const BlockAllocator&) = delete;
    BlockAllocator& operator=(const BlockAllocator&) = delete;

    // A block of `bytes` (rounded up to kAlignment), or null when the request is larger than a
    // chunk or no chunk can be had. A request that does not fit in the rest of the newest chunk
    // starts a new chunk; the rest of the old one stays unused. When a chunk cannot be
    // obtained, "file:<this source>, line:<n>, malloc failed !!!!!" goes to standard output,
    // with n 39 for the first chunk and 53 for a later one.
    void* Allocate(std::size_t bytes) noexcept;

    // Frees every chunk at once; every block handed out before becomes invalid.
    void Release() noexcept;

    std::size_t ChunkCount() const noexcept { return m_chunkCount; }
    // Bytes used in the newest chunk (0 when there is none).
    std::size_t Used() const noexcept { return m_used; }

private:
    void* NewChunk() noexcept;

    ChunkSource m_source;
    // Newest chunk first; each chunk stores the link to the previous one after its usable bytes.
    unsigned char* m_newest = nullptr;
    std::size_t m_used = 0;
    std::size_t m_chunkCount = 0;
};

} // namespace corvanelib
