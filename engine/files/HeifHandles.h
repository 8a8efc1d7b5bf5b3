// Owning handles of libheif's objects, each released by the library's own call;
// shared by the HEIF/AVIF reader and the AVIF writer.
#pragma once

#include <libheif/heif.h>

#include <memory>
#include <string>

#include "engine/files/FailureReason.h"

namespace kx {

template <auto Release>
struct HeifRelease {
    template <class T>
    void operator()(T* object) const
    {
        Release(object);
    }
};

using HeifContext = std::unique_ptr<heif_context, HeifRelease<heif_context_free>>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifRelease<heif_image_handle_release>>;
using HeifImage = std::unique_ptr<heif_image, HeifRelease<heif_image_release>>;
using HeifEncoder = std::unique_ptr<heif_encoder, HeifRelease<heif_encoder_release>>;
// True for a failed libheif call, refused with libheif's words ("the HEIF
// decoder says: ...", with `who` naming the decoder or encoder).
inline bool HeifFailed(const heif_error& error, const char* who)
{
    if (error.code == heif_error_Ok) return false;
    Refuse(std::string("the ") + who + " says: " + (error.message ? error.message : "unknown error"));
    return true;
}

using HeifDecodingOptions = std::unique_ptr<heif_decoding_options, HeifRelease<heif_decoding_options_free>>;
using HeifEncodingOptions = std::unique_ptr<heif_encoding_options, HeifRelease<heif_encoding_options_free>>;

}  // namespace kx
