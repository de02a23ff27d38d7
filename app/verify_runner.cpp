#include "app/verify_runner.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/resource.h"
#include "app/source_class.h"
#include "platform/com/com_runtime.h"
#include "processing/frame_source_factory.h"
#include "processing/frame_verifier.h"
#include "processing/processing_types.h"
#include "processing/run_flag.h"

namespace {

struct SVerifyOptions {
    std::string strFile;
    std::string strCsv;
    SVerifyPlanOptions plan;
    bool bSeedGiven = false;
};

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: pelora --headless --verify FILE [--sample N] [--seed S] [--csv PATH]\n");
}

bool ParseNumber(const char* pszName, const char* psz, unsigned long long ullMax,
                 unsigned long long* pValue) {
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long long ull = std::strtoull(psz, &pEnd, 10);
    if (*psz == '\0' || *psz == '-' || *pEnd != '\0' || errno != 0 || ull > ullMax) {
        std::fprintf(stderr, "pelora: %s: not a number: %s\n", pszName, psz);
        return false;
    }
    *pValue = ull;
    return true;
}

// Options as "--name VALUE" or "--name=VALUE". False (with a message) on a
// bad command line.
bool ParseOptions(int argc, char** argv, SVerifyOptions* pOpt) {
    bool bVerify = false;
    for (int i = 2; i < argc; ++i) {
        std::string strArg = argv[i];
        std::string strValue;
        bool bInline = false;
        const size_t nEq = strArg.find('=');
        if (strArg.rfind("--", 0) == 0 && nEq != std::string::npos) {
            strValue = strArg.substr(nEq + 1);
            strArg.resize(nEq);
            bInline = true;
        }
        auto value = [&](std::string* pstr) {
            if (bInline) {
                *pstr = strValue;
                return true;
            }
            if (i + 1 >= argc) {
                std::fprintf(stderr, "pelora: %s needs a value\n", strArg.c_str());
                return false;
            }
            *pstr = argv[++i];
            return true;
        };
        std::string str;
        unsigned long long ull = 0;
        if (strArg == "--verify") {
            if (bVerify || !value(&pOpt->strFile)) return false;
            bVerify = true;
        } else if (strArg == "--sample") {
            if (!value(&str) || !ParseNumber("--sample", str.c_str(), 1000000000, &ull))
                return false;
            pOpt->plan.nSample = static_cast<LONG>(ull);
        } else if (strArg == "--seed") {
            if (!value(&str) || !ParseNumber("--seed", str.c_str(), UINT64_MAX, &ull)) return false;
            pOpt->plan.ullSeed = ull;
            pOpt->bSeedGiven = true;
        } else if (strArg == "--csv") {
            if (!value(&pOpt->strCsv)) return false;
        } else {
            std::fprintf(stderr, "pelora: %s does not go with --verify\n", argv[i]);
            return false;
        }
    }
    if (!bVerify || pOpt->strFile.empty()) {
        std::fprintf(stderr, "pelora: --verify needs a file\n");
        return false;
    }
    return true;
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string SeekModeText(const SFrameTimeline& timeline, SeekMode nSeekMode) {
    std::string str = timeline.nFrameStep == 1 ? "frames" : "media time";
    str += nSeekMode == SEEK_POLL ? ", poll to stop" : ", wait for completion";
    return str;
}

std::string ShownText(const SFrameCheck& check) {
    if (FAILED(check.hrAcquire)) return "no frame (the seek did not arrive)";
    if (check.llShown < 0) return "a picture that is no frame of the file";
    return "frame " + std::to_string(check.llShown);
}

bool WriteCsv(const std::string& strPath, const std::vector<SFrameCheck>& checks) {
    std::FILE* pFile = std::fopen(strPath.c_str(), "w");
    if (!pFile) return false;
    std::fputs("kind,position,asked,shown,match,acquire_ms\n", pFile);
    for (const SFrameCheck& c : checks)
        std::fprintf(pFile, "%s,%" PRId64 ",%" PRId64 ",%" PRId64 ",%d,%.3f\n",
                     FrameCheckKindName(c.eKind), static_cast<int64_t>(c.llPosition),
                     static_cast<int64_t>(c.llAsked), static_cast<int64_t>(c.llShown),
                     c.bMatch ? 1 : 0, c.dMs);
    return std::fclose(pFile) == 0;
}

// The source's part, on this thread with COM initialised as on the worker.
int Verify(const SVerifyOptions& opt, IFrameSource& source, SeekMode nSeekMode, bool bProgress) {
    BITMAPINFO bmi{};
    std::string strMessage;
    if (FAILED(source.ProbeFormat(nullptr, &bmi, &strMessage))) {
        std::fprintf(stderr, "%s\n", strMessage.c_str());
        return 1;
    }
    // The worker's frame size: the renderer's, raised to the padded rows.
    const LONG nWidth = bmi.bmiHeader.biWidth, nHeight = std::abs(bmi.bmiHeader.biHeight);
    const DWORD cbPadded = static_cast<DWORD>(((3 * nWidth + 3) & ~3) * nHeight);
    const DWORD cbFrame = std::max(bmi.bmiHeader.biSizeImage, cbPadded);

    const auto tSequential = std::chrono::steady_clock::now();
    if (bProgress) std::fputs("verify: decoding every frame in order\r", stderr);
    SReferenceFrames ref;
    if (FAILED(HashFramesInOrder(opt.strFile, cbFrame, &ref))) {
        std::fprintf(stderr, "ファイルを開くことが出来ません\n");
        return 1;
    }
    const double dSequential = SecondsSince(tSequential);

    CRunFlag flag = CRunFlag::Create(CRunFlag::NextName(), 1);
    SFrameTimeline timeline;
    if (FAILED(source.Open(nullptr, flag, &timeline))) {
        std::fprintf(stderr, "ファイルを開くことが出来ません\n");
        source.Close();
        return 1;
    }
    const std::vector<SPlannedCheck> plan =
        PlanFrameChecks(timeline.nFrameCount, ref.keyFrames, opt.plan);
    const auto tChecks = std::chrono::steady_clock::now();
    const std::vector<SFrameCheck> checks =
        RunFrameChecks(source, timeline, cbFrame, ref, plan, [&](size_t nDone, size_t nTotal) {
            // The blanks cover the rest of the longer line before it.
            if (bProgress) std::fprintf(stderr, "\rverify: %zu/%zu checks%20s", nDone, nTotal, "");
        });
    const double dChecks = SecondsSince(tChecks);
    source.Close();
    if (bProgress) std::fputc('\n', stderr);

    std::set<LONGLONG> frames;
    size_t nMismatches = 0;
    for (const SFrameCheck& c : checks) {
        frames.insert(c.llAsked);
        if (c.bMatch) continue;
        ++nMismatches;
        std::printf("mismatch: frame %" PRId64 " asked (%s, position %" PRId64 "), shown %s\n",
                    static_cast<int64_t>(c.llAsked), FrameCheckKindName(c.eKind),
                    static_cast<int64_t>(c.llPosition), ShownText(c).c_str());
    }
    if (static_cast<LONGLONG>(timeline.nFrameCount) != static_cast<LONGLONG>(ref.hashes.size()))
        std::printf("note: the counter shows %d frames, decoding in order gave %zu\n",
                    timeline.nFrameCount, ref.hashes.size());
    std::printf(
        "verify: %zu frames checked (%zu checks), %zu mismatches, seek mode: %s; %.2f s "
        "(%.2f ms per check), sequential pass %.2f s for %zu frames, seed %" PRIu64 "\n",
        frames.size(), checks.size(), nMismatches, SeekModeText(timeline, nSeekMode).c_str(),
        dChecks, checks.empty() ? 0.0 : dChecks * 1000.0 / static_cast<double>(checks.size()),
        dSequential, ref.hashes.size(), static_cast<uint64_t>(opt.plan.ullSeed));
    std::fflush(stdout);
    if (!opt.strCsv.empty() && !WriteCsv(opt.strCsv, checks)) {
        std::fprintf(stderr, "pelora: cannot write %s\n", opt.strCsv.c_str());
        return 1;
    }
    return nMismatches == 0 ? 0 : 3;
}

}  // namespace

bool IsVerifyCommand(int argc, char** argv) {
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--verify") == 0 || std::strncmp(argv[i], "--verify=", 9) == 0)
            return true;
    return false;
}

int RunVerify(int argc, char** argv, const FrameSourceWrapper& wrapSource) {
    SVerifyOptions opt;
    if (!ParseOptions(argc, argv, &opt)) {
        PrintUsage();
        return 2;
    }
    // Without --seed each run samples other frames; the seed printed lets a
    // run be repeated.
    if (!opt.bSeedGiven) opt.plan.ullSeed = std::random_device{}();
    SFrameSourceChoice choice;
    choice.nKind = SOURCE_FILE;
    choice.strPath = opt.strFile;
    // The same grab mode as the video command gives the file.
    const ESourceClass eClass = ClassifySource(opt.strFile, FileExtension(opt.strFile));
    if (eClass == ESourceClass::MpegFile) {
        std::fprintf(stderr, "%s\n", kMpegMessage);
        return 1;
    }
    choice.nSeekMode = static_cast<SeekMode>(SeekModeOf(eClass));
    std::unique_ptr<IFrameSource> pSource = CreateFrameSource(choice);
    if (pSource && wrapSource) pSource = wrapSource(std::move(pSource));
    if (!pSource) {
        std::fprintf(stderr, "ファイルを開くことが出来ません\n");
        return 1;
    }
    const HRESULT hrCo = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int nExit = Verify(opt, *pSource, choice.nSeekMode, isatty(STDERR_FILENO) != 0);
    if (SUCCEEDED(hrCo)) CoUninitialize();
    return nExit;
}
