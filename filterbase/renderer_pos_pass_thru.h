// filterbase: CRendererPosPassThru, the position object of a renderer: a
// CPosPassThru that also knows the media times of the last sample rendered,
// so that the current position is the renderer's.
//
// Contract:
// - RegisterMediaTime runs on the streaming thread for every sample
//   rendered (not merely received, so the position never runs ahead of
//   the picture), and on the thread that signals the end of the stream
//   (streaming or timer) with the stop position the renderer fetched
//   beforehand; ResetMediaTime on flush end and deactivation; queries on any
//   thread.
// - The times are guarded by m_PositionLock, a lock of its own (the
//   streaming thread must not need the filter lock for this). Upstream is
//   never called while m_PositionLock is held, so the lock may be taken
//   under the renderer's locks.
// - Times are stored in media time (100 ns). At the end of the stream both
//   become the upstream stop position, converted to media time first when
//   upstream uses another time format, so that the current position then
//   equals the stop position in any format.
#pragma once

#include "filterbase/pos_pass_thru.h"
#include "platform/win/crit_sec.h"

class CRendererPosPassThru : public CPosPassThru {
public:
    CRendererPosPassThru(const char* pName, IUnknown* pUnk, HRESULT* phr, IPin* pPin);

    // The sample's media times (IMediaSample::GetMediaTime) become the
    // position when it carries them, else its start and stop times (samples
    // with neither leave the position unchanged).
    HRESULT RegisterMediaTime(IMediaSample* pMediaSample);
    HRESULT RegisterMediaTime(LONGLONG StartTime, LONGLONG EndTime);
    // Start and optional stop in the current time format; E_FAIL while reset.
    HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) override;
    // Zeroes the times and marks them unknown.
    HRESULT ResetMediaTime();
    // The upstream stop position converted to media time (the renderer
    // stores it at the end of the stream). Calls upstream, so no lock of the
    // filter may be held.
    HRESULT GetStopPositionInMediaTime(LONGLONG* pStop);

private:
    CCritSec m_PositionLock;  // guards the three fields below
    LONGLONG m_StartMedia GUARDED_BY(m_PositionLock) = 0;
    LONGLONG m_EndMedia GUARDED_BY(m_PositionLock) = 0;
    BOOL m_bReset GUARDED_BY(m_PositionLock) = TRUE;
};
