// platform/ffmpeg: CPicturePool, the buffers a video decoder decodes into.
//
// FFmpeg's own picture buffers come from the heap and are written with zeros
// whenever its pool grows. A 1080p decoder with frame threads grows it to a
// dozen or more pictures as it starts, and each 4 KiB page touched for the
// first time costs about ten microseconds on a virtual machine: about 90 ms
// of CPU for the format probe and the worker's graph of a 1080p H.264 clip.
// Here a large picture (all planes 2 MiB or more) is one block of whole
// 2 MiB pages from VirtualAlloc, zero without being written, faulted in a
// huge page at a time. Small pictures and anything unusual (hardware
// frames, palettes, decoders that do not take caller buffers) keep FFmpeg's
// default buffers.
//
// Threads: FFmpeg calls the buffer callback from its decoding threads (the
// layout below is guarded by m_Lock, whatever serialisation FFmpeg adds)
// and returns buffers from any thread through the pool's own lock. Attach
// before avcodec_open2; destroy after the codec context is freed. Pictures
// still referenced then keep their blocks until they are freed.
// May include: the C++ standard library, platform/win, FFmpeg.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/win/std_mutex.h"

struct AVBufferPool;
struct AVCodecContext;
struct AVFrame;

class CPicturePool {
public:
    CPicturePool() = default;
    ~CPicturePool();
    CPicturePool(const CPicturePool&) = delete;
    CPicturePool& operator=(const CPicturePool&) = delete;

    // Makes pCodec take its picture buffers from this pool (sets its
    // get_buffer2 and opaque).
    void Attach(AVCodecContext* pCodec);

    // Blocks handed out so far (for tests): 0 while the default buffers serve.
    size_t BlocksAllocated() const { return m_nBlocks.load(); }

private:
    static int GetBuffer(AVCodecContext* pCodec, AVFrame* pFrame, int nFlags);
    // Lays out pictures of the frame's format and size; false when they are
    // left to the default buffers.
    bool Layout(AVCodecContext* pCodec, const AVFrame* pFrame) REQUIRES(m_Lock);
    int Get(AVCodecContext* pCodec, AVFrame* pFrame, int nFlags);

    CStdMutex m_Lock;
    AVBufferPool* m_pPool GUARDED_BY(m_Lock) = nullptr;  // pictures of the current layout
    int m_nFormat GUARDED_BY(m_Lock) = -1;               // layout key: pixel format and coded size
    int m_nWidth GUARDED_BY(m_Lock) = 0;
    int m_nHeight GUARDED_BY(m_Lock) = 0;
    bool m_bOwnBuffers GUARDED_BY(m_Lock) = false;  // false: the default buffers serve
    int m_anLinesize[4] GUARDED_BY(m_Lock) = {};
    size_t m_acbOffset[4] GUARDED_BY(m_Lock) = {};  // plane starts within a block
    int m_nPlanes GUARDED_BY(m_Lock) = 0;
    size_t m_cbBlock GUARDED_BY(m_Lock) = 0;
    std::atomic<size_t> m_nBlocks{0};  // counted as the pool allocates, read from any thread
};
