#include "StreamingPipeline.h"

#include <memory>
#include <utility>

#include "LanczosResample.h"
#include "RowSources.h"
#include "mIntelJPEGLibrary.h"

namespace kx {

bool LoadLanczosResampled(cDIBSection& surface, PictureMetadata& metadata, const std::string& path,
                          Long width, Long height, const EngineSettings& settings)
{
    switch (LoadReducedPicture(path, StreamRequest{width, height, settings.AutoOrient}, surface, metadata)) {
    case StreamOutcome::Done: return true;
    case StreamOutcome::Failed: return false;
    case StreamOutcome::WholePicture: break;
    }
    if (!LoadPictureFile(surface, path, metadata, settings.AutoOrient, ShrinkTarget{width, height}))
        return false;
    std::unique_ptr<cDIBSection> resampled = ResampleLanczos(surface, width, height);
    surface = resampled ? std::move(*resampled) : cDIBSection();
    return true;
}

}  // namespace kx
