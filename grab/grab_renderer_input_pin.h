// grab: CGrabRendererInputPin, the only pin of the grab renderer. It offers
// the renderer's own pool (CGrabRendererAllocator) to the upstream output
// pin and records whether upstream took it, which decides how the renderer
// keeps frames (see grab_renderer.h).
//
// Threads and locks:
// - GetAllocator, NotifyAllocator and BreakConnect run on the graph thread
//   while a connection is made or broken, under the filter's interface lock
//   (m_pFilterLock, the same lock the base pin uses).
// - m_bUsingGrabAllocator is written under the interface lock and read by
//   the streaming thread in DoRenderSample (which also holds that lock); it
//   is atomic so that readers without the lock are safe too.
// - Releasing the renderer's held sample takes the renderer's m_FrameLock
//   after the interface lock, the filter's lock order.
// May include: the C++ standard library, platform/ and filterbase/. No Qt.
#pragma once

#include <atomic>

#include "filterbase/renderer_input_pin.h"
#include "grab/grab_renderer_allocator.h"
#include "platform/com/com_ref.h"

class CGrabRenderer;

// Builds the pin's pool: a new allocator with no reference, or null.
using PFN_CREATE_GRAB_ALLOCATOR = CGrabRendererAllocator* (*)();

class CGrabRendererInputPin : public CRendererInputPin {
public:
    // The pin is named "Input". When pfnCreateAllocator yields no allocator
    // the pin works with the base pin's pool and E_OUTOFMEMORY is written
    // to *phr (unless it already holds a failure).
    CGrabRendererInputPin(CGrabRenderer* pRenderer, HRESULT* phr,
                          PFN_CREATE_GRAB_ALLOCATOR pfnCreateAllocator);
    ~CGrabRendererInputPin() override;

    // IMemInputPin. GetAllocator offers the grab allocator unless an earlier
    // NotifyAllocator installed another pool (then that one); without a
    // grab allocator it falls back to the base pin's pool. E_POINTER for a
    // null out-pointer.
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    // Passes the pool to the base pin, then records whether it is ours. A
    // foreign pool makes the renderer drop the sample it holds.
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;

    // Drops the renderer's held sample once the connection is broken, so
    // that the pool's decommit completes and a later connection can set new
    // properties.
    HRESULT BreakConnect() override;

    BOOL UsingGrabAllocator() const { return m_bUsingGrabAllocator.load(); }
    // The pin's own pool (no reference), or null if it could not be built.
    IMemAllocator* GrabAllocator() const {
        return m_pGrabAllocator ? static_cast<IMemAllocator*>(m_pGrabAllocator.Get()) : nullptr;
    }

private:
    CGrabRenderer* const m_pGrabRenderer;
    CCritSec* const m_pFilterLock;  // the renderer's interface lock
    // Taken at construction and dropped with the pin; never changes in
    // between, so it is read without a lock.
    const CComRef<CGrabRendererAllocator> m_pGrabAllocator;
    std::atomic<BOOL> m_bUsingGrabAllocator{FALSE};
};
