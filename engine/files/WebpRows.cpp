#include "RowSources.h"

namespace kx {

StreamOutcome StreamWebp(const PictureSource&, RowReducer&, PictureMetadata&)
{
    return StreamOutcome::WholePicture;
}

}  // namespace kx
