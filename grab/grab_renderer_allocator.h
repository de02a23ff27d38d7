// grab: CGrabRendererAllocator, the sample pool that the grab renderer's
// input pin offers upstream. It grants two buffers more than it is asked
// for: the renderer keeps the latest sample out of the pool between frames,
// and the renderer base holds another while it waits for a presentation
// time, so without the extra two the upstream filter would starve.
//
// Threads and locking are those of CMemAllocator; SetProperties runs on the
// graph thread while the connection is being made.
// May include: the C++ standard library, platform/ and filterbase/. No Qt.
#pragma once

#include "filterbase/mem_allocator.h"

class CGrabRendererAllocator : public CMemAllocator {
public:
    // Buffers added to every request.
    static constexpr LONG kExtraBuffers = 2;

    // Failures of the base classes are written to *phr.
    explicit CGrabRendererAllocator(HRESULT* phr);
    ~CGrabRendererAllocator() override;

    // Passes a copy of the request with cBuffers + kExtraBuffers (saturating
    // at the largest LONG) to CMemAllocator::SetProperties. The caller's
    // request record is never modified; pActual reports what was granted.
    // E_POINTER for a null pRequest or pActual.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

    // A new allocator with no reference yet, or null if it could not be
    // built (out of memory, or a base class reported a failure).
    static CGrabRendererAllocator* Create();
};
