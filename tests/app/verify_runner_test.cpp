// `pelora --headless --verify`: the check plan, a clean run, and an injected
// fault (the previous frame after a seek) reported with its frames and exit 3.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/verify_runner.h"
#include "processing/frame_time.h"
#include "processing/frame_verifier.h"
#include "platform/test_clips.h"
#include "tools/clip_writer.h"

namespace {

using pelora_test::CClipCache;

struct SRun {
    int nExit = -1;
    std::string strOut;
};

SRun Verify(std::vector<std::string> args, const FrameSourceWrapper& wrap = {}) {
    args.insert(args.begin(), {"pelora", "--headless"});
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    testing::internal::CaptureStdout();
    SRun run;
    run.nExit = RunVerify(static_cast<int>(argv.size()), argv.data(), wrap);
    run.strOut = testing::internal::GetCapturedStdout();
    return run;
}

// The seeks of a plan, and whether every position it reaches is a frame.
std::vector<LONG> SeeksIn(const std::vector<SPlannedCheck>& plan, LONG nFrames, bool* pInRange) {
    std::vector<LONG> seeks;
    LONG nAt = 0;
    *pInRange = true;
    for (const SPlannedCheck& c : plan) {
        nAt = c.eKind == EFrameCheckKind::Seek
                  ? c.nFrame
                  : nAt + (c.eKind == EFrameCheckKind::StepForward ? 1 : -1);
        if (c.eKind == EFrameCheckKind::Seek) seeks.push_back(c.nFrame);
        *pInRange = *pInRange && nAt >= 0 && nAt < nFrames;
    }
    return seeks;
}

TEST(VerifyPlan, ShortFilesCheckEveryFrameLongOnesTheEdgesKeyframesAndASample) {
    SVerifyPlanOptions options;
    options.nSample = 100;
    options.nStepStarts = 10;
    bool bInRange = false;

    const std::vector<LONG> shortSeeks =
        SeeksIn(PlanFrameChecks(2000, {}, options), 2000, &bInRange);
    EXPECT_TRUE(bInRange);
    // All in range, so 2000 distinct seeks are every frame.
    EXPECT_EQ(std::set<LONG>(shortSeeks.begin(), shortSeeks.end()).size(), 2000u);

    std::vector<LONGLONG> keys;
    for (LONGLONG k = 0; k < 5000; k += 250) keys.push_back(k);
    const std::vector<SPlannedCheck> plan = PlanFrameChecks(5000, keys, options);
    const std::vector<LONG> seeks = SeeksIn(plan, 5000, &bInRange);
    EXPECT_TRUE(bInRange);
    const std::set<LONG> set(seeks.begin(), seeks.end());
    for (LONG n : {0, 4990, 4999, 249, 250, 251, 4749, 4750, 4751}) EXPECT_TRUE(set.count(n)) << n;
    // 0, the last ten, 3 per keyframe but 0 (whose -1 is none and +1 is
    // frame 1): 1 + 10 + 19 * 3 + 1, then 100 random ones, then the step starts.
    EXPECT_GE(set.size(), 169u);
    EXPECT_LE(set.size(), 179u);
    EXPECT_EQ(plan.size(), 169u + 10u * 5u);

    // An all-keyframe stream does not make every frame a keyframe neighbour.
    std::vector<LONGLONG> allKeys(5000);
    for (LONGLONG k = 0; k < 5000; ++k) allKeys[static_cast<size_t>(k)] = k;
    EXPECT_LT(PlanFrameChecks(5000, allKeys, options).size(), 600u);

    // A seed repeats its plan; another seed samples other frames.
    const std::vector<SPlannedCheck> again = PlanFrameChecks(5000, keys, options);
    EXPECT_TRUE(
        std::equal(plan.begin(), plan.end(), again.begin(), again.end(),
                   [](auto& a, auto& b) { return a.eKind == b.eKind && a.nFrame == b.nFrame; }));
    options.ullSeed = 2;
    EXPECT_NE(SeeksIn(PlanFrameChecks(5000, keys, options), 5000, &bInRange), seeks);
}

// A clean run (rows with padding) reports every check matched, in its summary
// and its CSV. The fault test below sees the other frames of an MP4 match too.
TEST(VerifyRunner, CleanFileReportsEveryCheckMatched) {
    const std::string strClip = CClipCache::Get().Clip(EClipFormat::AviMpeg4, 97, 61, 40, 25, 10);
    const std::string strCsv = CClipCache::Get().Path("checks.csv");
    const SRun run = Verify({"--verify", strClip, "--seed", "7", "--csv", strCsv});
    EXPECT_EQ(run.nExit, 0) << run.strOut;
    EXPECT_NE(run.strOut.find("verify: 40 frames checked (290 checks), 0 mismatches, seek mode: "
                              "frames, wait for completion"),
              std::string::npos)
        << run.strOut;
    std::ifstream csv(strCsv);
    size_t nRows = 0, nMatches = 0;
    for (std::string s; std::getline(csv, s); ++nRows)
        nMatches += s.find(",1,") != std::string::npos;
    EXPECT_EQ(nRows, 291u);
    EXPECT_EQ(nMatches, 290u);
}

// The file source with a fault: after a seek to one of the given frames it
// delivers the frame before.
class CPreviousFrameSource : public IFrameSource {
public:
    CPreviousFrameSource(std::unique_ptr<IFrameSource> pInner, std::set<LONGLONG> faulty)
        : m_pInner(std::move(pInner)), m_faulty(std::move(faulty)) {}
    HRESULT ProbeFormat(void* hwnd, BITMAPINFO* pbmi, std::string* pstr) override {
        return m_pInner->ProbeFormat(hwnd, pbmi, pstr);
    }
    HRESULT Open(void* hwnd, const CRunFlag& flag, SFrameTimeline* pTimeline) override {
        const HRESULT hr = m_pInner->Open(hwnd, flag, pTimeline);
        m_timeline = *pTimeline;
        return hr;
    }
    HRESULT AcquireAt(LONGLONG llPos, BYTE* pDest, DWORD cb) override {
        const LONGLONG llFrame =
            FrameIndexAt(llPos, m_timeline.nFrameStep, m_timeline.dFramesPerSecond);
        if (m_faulty.count(llFrame))
            llPos = FrameStartAt(static_cast<LONG>(llFrame - 1), m_timeline.nFrameStep,
                                 m_timeline.dFramesPerSecond);
        return m_pInner->AcquireAt(llPos, pDest, cb);
    }
    void ForgetPosition() override { m_pInner->ForgetPosition(); }
    void StartStream(LONGLONG a, LONGLONG b) override { m_pInner->StartStream(a, b); }
    LONGLONG StreamPosition() override { return m_pInner->StreamPosition(); }
    void AcquireLatest(BYTE* p, DWORD cb, LONGLONG* pll) override {
        m_pInner->AcquireLatest(p, cb, pll);
    }
    bool PicturePosition(LONG n, LONGLONG* pll) override {
        return m_pInner->PicturePosition(n, pll);
    }
    HRESULT WaitForStreamFrame(DWORD dw) override { return m_pInner->WaitForStreamFrame(dw); }
    void StopStream() override { m_pInner->StopStream(); }
    void StartFrameStream(LONGLONG a, LONGLONG b) override { m_pInner->StartFrameStream(a, b); }
    HRESULT TakeNextFrame(BYTE* p, DWORD cb, DWORD dw) override {
        return m_pInner->TakeNextFrame(p, cb, dw);
    }
    void Close() override { m_pInner->Close(); }

private:
    std::unique_ptr<IFrameSource> m_pInner;
    std::set<LONGLONG> m_faulty;
    SFrameTimeline m_timeline;
};

TEST(VerifyRunner, PreviousFrameAfterASeekIsReportedWithItsFramesAndExitThree) {
    const struct {
        EClipFormat eFormat;
        LONGLONG llPos13;  // the position of frame 13
    } cases[] = {{EClipFormat::AviMpeg4, 13}, {EClipFormat::Mp4H264, 5200000}};
    const auto faulty = [](std::unique_ptr<IFrameSource> p) {
        return std::make_unique<CPreviousFrameSource>(std::move(p), std::set<LONGLONG>{13, 29});
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ClipFormatName(c.eFormat));
        const std::string strClip = CClipCache::Get().Clip(c.eFormat, 64, 48, 30, 25, 10);
        const SRun run = Verify({"--verify", strClip, "--seed", "3"}, faulty);
        EXPECT_EQ(run.nExit, 3);
        EXPECT_NE(run.strOut.find("mismatch: frame 13 asked (seek, position " +
                                  std::to_string(c.llPos13) + "), shown frame 12\n"),
                  std::string::npos)
            << run.strOut;
        // Every check of frame 13 or 29 fails (seeks and steps), and no other.
        std::istringstream in(run.strOut);
        size_t nMismatches = 0;
        for (std::string s; std::getline(in, s);) {
            if (s.rfind("mismatch: ", 0) != 0) continue;
            ++nMismatches;
            EXPECT_TRUE(s.find("frame 13 asked") == 10 || s.find("frame 29 asked") == 10) << s;
            EXPECT_TRUE(s.find("shown frame 12") != std::string::npos ||
                        s.find("shown frame 28") != std::string::npos)
                << s;
        }
        EXPECT_GE(nMismatches, 2u);
        EXPECT_NE(run.strOut.find(", " + std::to_string(nMismatches) + " mismatches,"),
                  std::string::npos);
    }
}

TEST(VerifyRunner, UnreadableFilesExitOneBadOptionsTwo) {
    const std::string strBad = CClipCache::Get().Path("not_a_clip.avi");
    std::ofstream(strBad) << "this is no video\n";
    EXPECT_EQ(Verify({"--verify", strBad}).nExit, 1);
    EXPECT_EQ(Verify({"--verify", CClipCache::Get().Path("missing.mp4")}).nExit, 1);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--verify"},
                                               {"--verify", strBad, "--sample", "-1"},
                                               {"--verify", strBad, "--seed", "x"},
                                               {"--verify", strBad, "--every-frame"},
                                               {"--verify=" + strBad, "--sample"}})
        EXPECT_EQ(Verify(args).nExit, 2) << args.back();
}

}  // namespace
