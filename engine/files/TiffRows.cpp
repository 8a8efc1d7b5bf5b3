#include "RowSources.h"

namespace kx {

StreamOutcome StreamTiff(const PictureSource&, RowReducer&, PictureMetadata&)
{
    return StreamOutcome::WholePicture;
}

}  // namespace kx
