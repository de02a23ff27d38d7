#include "processing/frame_source_factory.h"

#include "processing/camera_frame_source.h"
#include "processing/file_frame_source.h"
#include "processing/still_frame_source.h"

std::unique_ptr<IFrameSource> CreateFrameSource(const SFrameSourceChoice& choice) {
    switch (choice.nKind) {
        case SOURCE_FILE:
            return std::make_unique<CFileFrameSource>(choice.strPath, choice.nSeekMode);
        case SOURCE_STILL:
            return std::make_unique<CStillFrameSource>(choice.bmiStill, choice.pStillBits,
                                                       choice.cbStillBits);
        case SOURCE_CAMERA:
            // The dialog always reads device 0.
            if (choice.pVideoInput == nullptr) return nullptr;
            return std::make_unique<CCameraFrameSource>(*choice.pVideoInput, 0);
        default:
            return nullptr;
    }
}
