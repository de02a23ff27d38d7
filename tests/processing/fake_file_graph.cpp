#include "fake_file_graph.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "tools/frame_pattern.h"

namespace {
std::mutex g_mxClip;
SFakeClip g_clip;  // guarded by g_mxClip

// Frame nIndex's pattern as a bottom-up 24-bit frame with padded rows.
void DrawBottomUpPattern(BYTE* pDest, int nWidth, int nHeight, int nIndex) {
    const int nStride = (3 * nWidth + 3) & ~3;
    std::vector<BYTE> topDown(static_cast<size_t>(nStride) * nHeight, 0);
    DrawFramePattern(topDown.data(), nWidth, nHeight, nStride, nIndex);
    for (int y = 0; y < nHeight; ++y)
        std::memcpy(pDest + static_cast<size_t>(nHeight - 1 - y) * nStride,
                    topDown.data() + static_cast<size_t>(y) * nStride, nStride);
}
}  // namespace

void CFakeFileGraph::SetClip(const SFakeClip& clip) {
    std::lock_guard<std::mutex> lock(g_mxClip);
    g_clip = clip;
}

std::unique_ptr<IFileGraph> CFakeFileGraph::Factory(void*) {
    std::lock_guard<std::mutex> lock(g_mxClip);
    return std::make_unique<CFakeFileGraph>(g_clip);
}

CFakeFileGraph::~CFakeFileGraph() {
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bQuit = true;
        m_bRunning = false;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

HRESULT CFakeFileGraph::Open(const std::string&, EOpenStep* pFailedStep) {
    *pFailedStep = m_clip.bFailOpen ? EOpenStep::RenderFile : EOpenStep::None;
    return m_clip.bFailOpen ? E_FAIL : S_OK;
}

BITMAPINFO CFakeFileGraph::RendererFormat() const {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = m_clip.nWidth;
    bmi.bmiHeader.biHeight = m_clip.nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biSizeImage = ((3 * m_clip.nWidth + 3) & ~3) * m_clip.nHeight;
    return bmi;
}

HRESULT CFakeFileGraph::IsFormatSupported(const GUID* pFormat) {
    const bool bFrames = *pFormat == TIME_FORMAT_FRAME && m_clip.bFrameFormat;
    return *pFormat == TIME_FORMAT_MEDIA_TIME || bFrames ? S_OK : S_FALSE;
}

HRESULT CFakeFileGraph::SetTimeFormat(const GUID* pFormat) {
    if (IsFormatSupported(pFormat) != S_OK) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mx);
    m_bFrameFormat = (*pFormat == TIME_FORMAT_FRAME);
    return S_OK;
}

LONGLONG CFakeFileGraph::FrameTime(int nFrame) const {
    if (m_bFrameFormat) return nFrame;
    if (m_clip.nFpsNum > 0)
        return std::llround(static_cast<double>(nFrame) * 1e7 / m_clip.nFpsNum);
    return nFrame * Duration();
}

int CFakeFileGraph::FrameAt(LONGLONG llPos) const {
    if (m_bFrameFormat) return static_cast<int>(std::clamp<LONGLONG>(llPos, 0, m_clip.nFrames));
    // The last frame that starts at or before the position.
    int n = static_cast<int>(std::clamp<LONGLONG>(llPos / Duration() - 1, 0, m_clip.nFrames));
    while (n < m_clip.nFrames && FrameTime(n + 1) <= llPos) ++n;
    return n;
}

HRESULT CFakeFileGraph::GetDuration(LONGLONG* pDuration) {
    std::lock_guard<std::mutex> lock(m_mx);
    *pDuration = FrameTime(m_clip.nFrames);
    return S_OK;
}

HRESULT CFakeFileGraph::SetPositions(LONGLONG* pCurrent, DWORD, LONGLONG* pStop, DWORD) {
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_llStart = m_llCurrent = *pCurrent;
        m_llStop = *pStop;
        m_bComplete = false;
        ++m_nSegment;
    }
    m_cv.notify_all();
    return S_OK;
}

HRESULT CFakeFileGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    std::lock_guard<std::mutex> lock(m_mx);
    *pCurrent = m_llCurrent;
    *pStop = m_llStop;
    return S_OK;
}

HRESULT CFakeFileGraph::Run() {
    std::lock_guard<std::mutex> lock(m_mx);
    if (m_bRunning) return S_OK;
    m_bRunning = true;
    ++m_nSegment;  // a (re)started run plays the segment from its start
    if (m_thread.joinable()) {
        m_cv.notify_all();
        return S_OK;
    }
    m_thread = std::thread(&CFakeFileGraph::Stream, this);
    return S_OK;
}

HRESULT CFakeFileGraph::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bRunning = false;
    }
    m_cv.notify_all();
    return S_OK;
}

HRESULT CFakeFileGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    std::unique_lock<std::mutex> lock(m_mx);
    const bool bDone = m_cv.wait_for(lock, std::chrono::milliseconds(msTimeout),
                                     [&] { return m_bComplete; });
    if (!bDone) return E_ABORT;
    *pEvCode = EC_COMPLETE;
    return S_OK;
}

void CFakeFileGraph::Stream() {
    std::unique_lock<std::mutex> lock(m_mx);
    uint64_t nSegmentSeen = 0;
    int nFrame = 0;
    std::chrono::steady_clock::time_point tStart;
    LONGLONG llSegmentStart = 0;
    bool bFirst = true;
    while (!m_bQuit) {
        if (!m_bRunning || m_bComplete) {
            if (m_bComplete && nSegmentSeen == m_nSegment && m_bRunning) {
                m_cv.wait(lock, [&] { return m_bQuit || nSegmentSeen != m_nSegment || !m_bRunning; });
            } else {
                m_cv.wait(lock, [&] { return m_bQuit || (m_bRunning && !m_bComplete); });
            }
            continue;
        }
        if (nSegmentSeen != m_nSegment) {  // flush and restart from the segment start
            nSegmentSeen = m_nSegment;
            llSegmentStart = m_llStart;
            nFrame = FrameAt(m_llStart);
            tStart = std::chrono::steady_clock::now();
            bFirst = true;
        }
        const bool bPastEnd = nFrame >= m_clip.nFrames;
        const bool bBeyondStop = !bFirst && FrameTime(nFrame) >= m_llStop;
        if (bPastEnd || bBeyondStop) {
            m_llCurrent = m_llStop;
            m_bComplete = true;
            m_cv.notify_all();
            continue;
        }
        // Presentation time of this frame relative to the segment start.
        const double dSeconds =
            static_cast<double>(nFrame - FrameAt(llSegmentStart)) * Duration() / 1e7 / m_clip.dSpeed;
        const auto tDue = tStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(dSeconds));
        const uint64_t nSegmentBefore = m_nSegment;
        if (m_cv.wait_until(lock, tDue, [&] { return m_bQuit || !m_bRunning || m_nSegment != nSegmentBefore; }))
            continue;
        m_nLatestFrame = nFrame;
        m_llCurrent = std::max(FrameTime(nFrame), m_llStart);
        bFirst = false;
        ++nFrame;
    }
}

LONG CFakeFileGraph::GrabLatestFrame(BYTE* pDest, LONG cbDest) {
    int nFrame;
    {
        std::lock_guard<std::mutex> lock(m_mx);
        nFrame = m_nLatestFrame;
    }
    if (nFrame < 0 || pDest == nullptr) return 0;
    const int nStride = (3 * m_clip.nWidth + 3) & ~3;
    const LONG cb = nStride * m_clip.nHeight;
    if (cbDest < cb) return 0;
    DrawBottomUpPattern(pDest, m_clip.nWidth, m_clip.nHeight, nFrame);
    return cb;
}
