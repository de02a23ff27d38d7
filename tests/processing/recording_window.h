// tests/processing: CRecordingWindow, an IFrameWindow that records what the
// worker asked of it, for tests that run the worker without any window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "processing/frame_window.h"

class CRecordingWindow : public IFrameWindow {
public:
    // Runs f on the window under its lock.
    template <class F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(m_mx);
        return f(*this);
    }
    void SetCounterText(const std::string& strText) override {
        With([&](auto& w) { w.m_counterTexts.push_back(strText); });
    }
    void SetSliderRange(LONG nMax, LONG nTickFreq) override {
        With([&](auto& w) { w.m_nSliderMax = nMax, w.m_nTickFreq = nTickFreq; });
    }
    void SetSliderPos(LONG nPos) override {
        With([&](auto& w) { w.m_nSliderPos = nPos; });
    }
    void DisableSlider() override {
        With([](auto& w) { w.m_bSliderDisabled = true; });
    }
    void ResetButtonsAfterRun() override {
        With([](auto& w) { ++w.m_nButtonResets; });
    }
    void InvalidatePicture() override { m_cv.notify_all(); }
    void DrawTextAt(int y, const std::string& strText) override {
        With([&](auto& w) { w.m_lines.emplace_back(y, strText); });
    }
    void OnFrameProcessed(LONGLONG llIndex, double, double) override {
        With([&](auto& w) { w.m_processedIndexes.push_back(llIndex); });
    }
    void OnRunEnded(LONGLONG, LONGLONG llSkipped) override {
        With([&](auto& w) { ++w.m_nRunsEnded, w.m_llLastSkipped = llSkipped; });
        m_cv.notify_all();
    }

    // Waits (bounded) until pred() holds under the lock; polled in short
    // slices, as not every recorder call notifies.
    template <class Pred>
    bool WaitFor(Pred pred, int nMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        std::unique_lock<std::mutex> lock(m_mx);
        while (!pred(*this)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            m_cv.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }
    // Lines drawn at row y, in order.
    std::vector<std::string> LinesAt(int y) {
        std::lock_guard<std::mutex> lock(m_mx);
        std::vector<std::string> v;
        for (const auto& [ly, text] : m_lines)
            if (ly == y) v.push_back(text);
        return v;
    }

    std::mutex m_mx;  // guards the fields below
    std::condition_variable m_cv;
    std::vector<std::string> m_counterTexts;
    std::vector<std::pair<int, std::string>> m_lines;
    std::vector<LONGLONG> m_processedIndexes;
    LONG m_nSliderMax = -1, m_nTickFreq = -1, m_nSliderPos = -1;
    bool m_bSliderDisabled = false;
    int m_nButtonResets = 0;
    int m_nRunsEnded = 0;
    LONGLONG m_llLastSkipped = 0;
};
