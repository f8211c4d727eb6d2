#include "corvanelib/log/dictionary/BlockAllocator.h"

#include <cstdio>
#include <cstdlib>

namespace corvanelib {

namespace {

// Link to the previous chunk, stored right after a chunk's usable bytes.
unsigned char*& PreviousOf(unsigned char* chunk) noexcept {
    return *reinterpret_cast<unsigned char**>(chunk + BlockAllocator::kChunkSize);
}

// The failure message's line number tells the first chunk (39) from a later one (53).
const int kFirstChunkLine = 39;
const int kLaterChunkLine = 53;

void ReportChunkFailure(int line) noexcept {
    std::printf("file:%s, line:%d, malloc failed !!!!!\n", __FILE__, line);
    std::fflush(stdout);
}

} // namespace

BlockAllocator::BlockAllocator(ChunkSource source) noexcept
    : m_source(source != nullptr ? source : &std::malloc) {}

BlockAllocator::~BlockAllocator() {
    Release();
}

void* BlockAllocator::NewChunk() noexcept {
    return m_source(kChunkSize + sizeof(unsigned char*));
}

void* BlockAllocator::Allocate(std::size_t bytes) noexcept {
    if (bytes > kChunkSize) {
        return nullptr;
    }
    const std::size_t rounded = (bytes + kAlignment - 1) & ~(kAlignment - 1);
    // The first request, and one that does not fit in the rest of the newest chunk, start a
    // chunk; m_used is 0 and m_chunkCount 0 while there is none.
    if (m_newest == nullptr || kChunkSize - m_used < rounded) {
        auto* chunk = static_cast<unsigned char*>(NewChunk());
        if (chunk == nullptr) {
            ReportChunkFailure(m_newest == nullptr ? kFirstChunkLine : kLaterChunkLine);
            return nullptr;
        }
        PreviousOf(chunk) = m_newest;
        m_newest = chunk;
        m_used = 0;
        ++m_chunkCount;
    }
    void* block = m_newest + m_used;
    m_used += rounded;
    return block;
}

void BlockAllocator::Release() noexcept {
    while (m_newest != nullptr) {
        unsigned char* previous = PreviousOf(m_newest);
        std::free(m_newest);
        m_newest = previous;
    }
    m_used = 0;
    m_chunkCount = 0;
}

} // namespace corvanelib
