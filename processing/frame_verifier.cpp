#include "processing/frame_verifier.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <random>

#include "platform/ffmpeg/file_decoder.h"
#include "processing/frame_time.h"

uint64_t HashFrameBytes(const BYTE* pBits, size_t cb) {
    constexpr uint64_t kPrime = 0x100000001b3ULL;
    uint64_t h = 0xcbf29ce484222325ULL;
    size_t i = 0;
    for (; i + 8 <= cb; i += 8) {
        uint64_t w;
        std::memcpy(&w, pBits + i, 8);
        h = (h ^ w) * kPrime;
        h ^=
            h >> 29;  // spread the high bits down, or a word's high bytes barely reach the low ones
    }
    for (; i < cb; ++i) h = (h ^ pBits[i]) * kPrime;
    return h ^ (h >> 32);
}

LONGLONG SReferenceFrames::FindFrame(uint64_t ullHash, LONGLONG llNear) const {
    LONGLONG llBest = -1;
    for (size_t i = 0; i < hashes.size(); ++i) {
        if (hashes[i] != ullHash) continue;
        const LONGLONG ll = static_cast<LONGLONG>(i);
        if (llBest < 0 || std::llabs(ll - llNear) < std::llabs(llBest - llNear)) llBest = ll;
    }
    return llBest;
}

HRESULT HashFramesInOrder(const std::string& strPath, DWORD cbFrame, SReferenceFrames* pRef) {
    pRef->hashes.clear();
    pRef->keyFrames.clear();
    CFileDecoder decoder;
    HRESULT hr = decoder.Open(strPath);
    if (FAILED(hr)) return hr;
    const size_t cb = std::max<size_t>(cbFrame, decoder.GetImageSize());
    std::unique_ptr<BYTE[]> pBits(new (std::nothrow) BYTE[cb]());
    if (!pBits) return E_OUTOFMEMORY;
    for (;;) {
        SDecodedFrameInfo info;
        hr = decoder.ReadFrame(pBits.get(), cb, &info);
        if (hr != S_OK) break;
        if (info.bKeyFrame) pRef->keyFrames.push_back(static_cast<LONGLONG>(pRef->hashes.size()));
        pRef->hashes.push_back(HashFrameBytes(pBits.get(), cbFrame));
    }
    if (FAILED(hr)) return hr;
    return decoder.EndedOnError() ? S_FALSE : S_OK;
}

const char* FrameCheckKindName(EFrameCheckKind eKind) {
    switch (eKind) {
        case EFrameCheckKind::Seek:
            return "seek";
        case EFrameCheckKind::StepForward:
            return "+1";
        case EFrameCheckKind::StepBackward:
            return "-1";
    }
    return "?";
}

std::vector<SPlannedCheck> PlanFrameChecks(LONG nFrames, const std::vector<LONGLONG>& keyFrames,
                                           const SVerifyPlanOptions& options) {
    std::vector<SPlannedCheck> plan;
    if (nFrames <= 0) return plan;
    std::mt19937_64 rng(options.ullSeed);
    std::vector<LONG> seeks;
    if (nFrames <= options.nFullLimit) {
        for (LONG n = 0; n < nFrames; ++n) seeks.push_back(n);
    } else {
        std::vector<bool> chosen(static_cast<size_t>(nFrames), false);
        auto choose = [&](LONGLONG ll) {
            if (ll < 0 || ll >= nFrames || chosen[static_cast<size_t>(ll)]) return false;
            chosen[static_cast<size_t>(ll)] = true;
            seeks.push_back(static_cast<LONG>(ll));
            return true;
        };
        choose(0);
        for (LONG n = std::max<LONG>(nFrames - 10, 0); n < nFrames; ++n) choose(n);
        // Keyframe neighbours: where a seek lands on a keyframe and decodes
        // forward from it. An all-keyframe stream (MJPEG) would make that
        // every frame, so at most nSample keyframes, evenly spread.
        const size_t nKeys = keyFrames.size();
        const size_t nTake =
            std::min<size_t>(nKeys, static_cast<size_t>(std::max<LONG>(options.nSample, 0)));
        for (size_t i = 0; i < nTake; ++i) {
            const LONGLONG k = keyFrames[i * nKeys / nTake];
            for (LONGLONG d = -1; d <= 1; ++d) choose(k + d);
        }
        std::uniform_int_distribution<LONG> any(0, nFrames - 1);
        const size_t nWanted =
            std::min<size_t>(seeks.size() + static_cast<size_t>(std::max<LONG>(options.nSample, 0)),
                             static_cast<size_t>(nFrames));
        while (seeks.size() < nWanted) choose(any(rng));
    }
    std::shuffle(seeks.begin(), seeks.end(), rng);
    for (LONG n : seeks) plan.push_back({EFrameCheckKind::Seek, n});

    // Two steps forward and two back from a random frame, as the buttons
    // move the position: by the frame step, not to a frame's start.
    if (nFrames >= 3) {
        std::uniform_int_distribution<LONG> start(0, nFrames - 3);
        for (LONG i = 0; i < options.nStepStarts; ++i) {
            plan.push_back({EFrameCheckKind::Seek, start(rng)});
            plan.push_back({EFrameCheckKind::StepForward, 0});
            plan.push_back({EFrameCheckKind::StepForward, 0});
            plan.push_back({EFrameCheckKind::StepBackward, 0});
            plan.push_back({EFrameCheckKind::StepBackward, 0});
        }
    }
    return plan;
}

std::vector<SFrameCheck> RunFrameChecks(IFrameSource& source, const SFrameTimeline& timeline,
                                        DWORD cbFrame, const SReferenceFrames& ref,
                                        const std::vector<SPlannedCheck>& plan,
                                        const std::function<void(size_t, size_t)>& pfnProgress) {
    std::vector<SFrameCheck> checks;
    checks.reserve(plan.size());
    // One buffer for the whole run, as the worker's frame buffer: an acquire
    // that answers S_FALSE leaves the frame it already holds.
    std::unique_ptr<BYTE[]> pBits(new BYTE[cbFrame]());
    LONGLONG llPos = 0;
    for (const SPlannedCheck& planned : plan) {
        switch (planned.eKind) {
            case EFrameCheckKind::Seek:
                llPos =
                    FrameStartAt(planned.nFrame, timeline.nFrameStep, timeline.dFramesPerSecond);
                break;
            case EFrameCheckKind::StepForward:
                llPos += timeline.nFrameStep;
                break;
            case EFrameCheckKind::StepBackward:
                llPos -= timeline.nFrameStep;
                break;
        }
        SFrameCheck check;
        check.eKind = planned.eKind;
        check.llPosition = llPos;
        check.llAsked = FrameIndexAt(llPos, timeline.nFrameStep, timeline.dFramesPerSecond);
        const auto t0 = std::chrono::steady_clock::now();
        check.hrAcquire = source.AcquireAt(llPos, pBits.get(), cbFrame);
        check.dMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count();
        if (SUCCEEDED(check.hrAcquire)) {
            const uint64_t ullHash = HashFrameBytes(pBits.get(), cbFrame);
            const bool bHasRef =
                check.llAsked >= 0 && check.llAsked < static_cast<LONGLONG>(ref.hashes.size());
            check.bMatch = bHasRef && ref.hashes[static_cast<size_t>(check.llAsked)] == ullHash;
            check.llShown = check.bMatch ? check.llAsked : ref.FindFrame(ullHash, check.llAsked);
        }
        checks.push_back(check);
        if (pfnProgress) pfnProgress(checks.size(), plan.size());
    }
    return checks;
}
