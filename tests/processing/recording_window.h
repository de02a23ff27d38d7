// tests/processing: CRecordingWindow, a frame window that records what the
// worker asked of it (one (what, value) pair a call, and every pass report),
// for the worker tests without Qt. Called on the worker thread, read from the
// test's thread.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "processing/frame_window.h"

class CRecordingWindow : public IFrameWindow {
public:
    void SetCounterText(const std::string& s) override { Add("counter", s); }
    void SetSliderRange(LONG nMax, LONG nTickFreq) override {
        Add("range", std::to_string(nMax) + " " + std::to_string(nTickFreq));
    }
    void SetSliderPos(LONG nPos) override { Add("pos", std::to_string(nPos)); }
    void DisableSlider() override { Add("disable", ""); }
    void ResetButtonsAfterRun() override { Add("reset", ""); }
    void InvalidatePicture() override {}
    void DrawTextAt(int y, const std::string& s) override { Add("line " + std::to_string(y), s); }
    void OnFrameProcessed(LONGLONG llIndex, double, double) override {
        Add("frame", std::to_string(llIndex));
    }
    void OnRunEnded(LONGLONG, LONGLONG llSkipped) override {
        Add("end", std::to_string(llSkipped));
    }
    void OnPass(const SPassReport& r) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_passes.push_back(r);
    }

    // The values recorded under what, in order.
    std::vector<std::string> Values(const std::string& what) {
        std::lock_guard<std::mutex> lock(m_mx);
        std::vector<std::string> v;
        for (const auto& [w, value] : m_events)
            if (w == what) v.push_back(value);
        return v;
    }
    // The frame indexes OnFrameProcessed reported, in order.
    std::vector<LONGLONG> Processed() {
        std::vector<LONGLONG> v;
        for (const std::string& s : Values("frame")) v.push_back(std::stoll(s));
        return v;
    }
    std::vector<SPassReport> Passes() {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_passes;
    }

private:
    void Add(std::string what, std::string value) {
        std::lock_guard<std::mutex> lock(m_mx);
        m_events.emplace_back(std::move(what), std::move(value));
    }
    std::mutex m_mx;  // guards m_events and m_passes
    std::vector<std::pair<std::string, std::string>> m_events;
    std::vector<SPassReport> m_passes;
};
