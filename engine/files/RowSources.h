// The streaming path of the modern mode: decoders that hand over a picture's
// rows top row first, as they decode them, to the antialiased reducer
// (StreamingLanczos.h). Only the reduced picture is held whole, so the memory
// a picture needs depends on its width and the reduction, not on its height
// or its pixel count. JPEG, PNG, TIFF, WebP and BMP pictures stream; other
// formats, interlaced PNGs and sizes that are not a reduction take the
// whole-picture path (LoadPicture). When alpha is kept, PNG, WebP and TIFF
// rows come with their alpha, which a second reducer takes beside the colour
// (premultiplied by it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/files/PictureMetadata.h"
#include "engine/files/RowPipe.h"
#include "engine/files/ShrinkOnLoad.h"
#include "engine/surface/AlphaPlane.h"
#include "engine/surface/StreamingLanczos.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

enum class StreamOutcome {
    Done,          // the reduced picture is in the surface
    Failed,        // the picture cannot be read; the failure reason says why
    WholePicture,  // not for this path: load the whole picture instead
};

// Whether a second thread reduces the rows while the decoder makes the next
// ones (RowPipe.h). The bytes are the same either way.
enum class ReduceThread {
    WhenFree,  // for a large picture, when a processor is free for it
    Always,
    Never,
};

// The size wanted, as the picture will be seen: upright with autoOrient,
// else as stored.
struct StreamRequest {
    Long Width = 0;
    Long Height = 0;
    bool AutoOrient = true;
    // Pictures with transparency keep it (LoadReducedPicture's plane).
    bool KeepAlpha = false;
    ReduceThread Thread = ReduceThread::WhenFree;
};

// Marks the calling thread as working on a picture while it lives, so that
// a reduction takes a second thread only when the process leaves a
// processor free: a batch with a worker per processor leaves none, even
// while a worker is between decodes. Marks nested on one thread count once.
class PictureWorkScope {
public:
    PictureWorkScope();
    ~PictureWorkScope();
    PictureWorkScope(const PictureWorkScope&) = delete;
    PictureWorkScope& operator=(const PictureWorkScope&) = delete;
};

// What the streaming decoders share: the reduction of the rows they hand
// over, its memory reservation, and the final turn upright (a picture stored
// on its side is reduced to the turned size and turned once reduced).
class RowReducer {
public:
    RowReducer(const StreamRequest& request, cDIBSection& out, AlphaPlane* alpha = nullptr);
    ~RowReducer();
    RowReducer(const RowReducer&) = delete;
    RowReducer& operator=(const RowReducer&) = delete;

    // The target for the pixels as stored, for a picture with this
    // orientation tag (1 to 8).
    ShrinkTarget StoredTarget(int orientation) const;

    // After the header: true when rows of width x height (as the decoder will
    // hand them over, orientation as the file says) are to be reduced; false
    // when the target is not smaller (the whole-picture path).
    bool Reduces(Long width, Long height, int orientation);

    // Reserves the whole need (the reducer's rows, the reduced picture and
    // its turned copy, the encoder's, the second thread's ring, and
    // `decoderBytes` of the decoder's own buffers) in the memory budget and
    // starts the reducer. `rawBytes`, for a decoder whose rows go through
    // PrepareWith, is the length of its raw rows. False, with the failure
    // reason set, when the budget refuses it or memory runs out.
    bool Start(int64_t decoderBytes, size_t rawBytes = 0);

    // Takes the next row: BGR, or BGR and its alpha after WithAlpha. (From
    // the Prepare step, on the reducing thread, pipe_ is not looked at.)
    void Push(const uint8_t* row) { !prepare_&& pipe_ ? pipe_->Put(row, nullptr) : reducer_.Push(row); }
    void Push(const uint8_t* bgr, const uint8_t* alpha)
    {
        !prepare_&& pipe_ ? pipe_->Put(bgr, alpha) : PushNow(bgr, alpha);
    }
    // Before Start, for a picture with alpha: rows then come with it, and
    // the alpha is reduced beside the colour (counted by Start).
    void WithAlpha() { withAlpha_ = true; }
    // The rows come red first (RGB). Every channel is reduced alike, so the
    // reduced picture is turned to BGR once, by Finish.
    void RedFirst() { redFirst_ = true; }

    // For raw rows that need more work before they are reduced (a PNG's
    // filters undone), to be done on the reducing thread: after Start with
    // their length, `prepare` takes every row given to PushRaw, in order,
    // and hands it over with Push.
    using Prepare = std::function<void(const uint8_t* raw)>;
    void PrepareWith(Prepare prepare);
    void PushRaw(const uint8_t* raw) { pipe_ ? pipe_->Put(raw, nullptr) : prepare_(raw); }
    Long Width() const { return width_; }
    // After Start: whether this picture has a processor to spare, for a
    // decoder that can put a thread of its own to work (libwebp's filters).
    bool Threaded() const { return threaded_; }
    bool KeepsAlpha() const { return request_.KeepAlpha && alpha_ != nullptr; }

    // An orientation tag found only after the rows (a PNG's eXIf written
    // after its pixels). The reduction does not depend on it when the pixels
    // are left as stored or the turn keeps the sides (a mirror, a half turn):
    // it is taken, and the reduced picture is turned by Finish, its copy
    // counted. A turn that swaps the sides would have asked for the other
    // reduction: false, and the picture is to be read again whole. Such
    // files are rare, so the second read costs less than a second reducer.
    bool LateOrientation(int orientation);

    // Ends the picture (rows not handed over are black) and turns it upright
    // with autoOrient; metadata.Orientation then describes the pixels. The
    // alpha, when it came, goes to the plane.
    bool Finish(PictureMetadata& metadata);

private:
    bool UsesThread() const;
    void PushNow(const uint8_t* bgr, const uint8_t* alpha);
    void StartThread(size_t colourBytes, size_t alphaBytes, RowPipe::Sink sink);

    const PictureWorkScope working_;
    StreamRequest request_;
    cDIBSection& out_;
    StreamingLanczos reducer_;
    AlphaPlane* alpha_ = nullptr;
    bool withAlpha_ = false;
    // The alpha as grey, reduced with the colour's arithmetic.
    StreamingLanczos alphaReducer_;
    cDIBSection alphaOut_;
    std::vector<uint8_t> premultiplied_, grey_;
    Long width_ = 0, height_ = 0;
    ShrinkTarget target_;
    int orientation_ = 1;
    bool threaded_ = false, redFirst_ = false;
    size_t rawBytes_ = 0;
    Prepare prepare_;
    // Last, so that its thread ends before what it works on goes.
    std::unique_ptr<RowPipe> pipe_;
};

// An open picture file: its descriptor, its size and its first bytes.
struct PictureSource {
    int Fd = -1;
    int64_t Size = 0;
    std::span<const uint8_t> Head;
};

// The streaming decoders. Each validates the header before anything is
// allocated, reserves its need through the reducer, hands over every row and
// fills `metadata` as its whole-picture decoder does. WholePicture (before any
// row, but for LateOrientation's refusal) when the picture is not for this path, and for a header it cannot
// read or a size beyond the limits: the whole-picture decoder then refuses
// it with its own reason, so both paths give the same.
StreamOutcome StreamJpeg(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata);
StreamOutcome StreamPng(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata);
StreamOutcome StreamTiff(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata);
StreamOutcome StreamWebp(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata);
StreamOutcome StreamBmp(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata);

// Reads the picture at `path` reduced to the request's size by the streaming
// path; with the request's KeepAlpha, a picture with transparency leaves its
// reduced alpha in `alpha` (empty for an opaque one). On Failed, the failure
// reason is set as LoadPicture sets it; on WholePicture nothing is held and
// the caller loads the whole picture.
StreamOutcome LoadReducedPicture(const std::string& path, const StreamRequest& request, cDIBSection& surface,
                                 PictureMetadata& metadata, AlphaPlane* alpha = nullptr);

// libtiff's premultiplied ABGR pixels over white as BGR, as the TIFF decoder
// blends them.
void AbgrRowOverWhite(const uint32_t* abgr, Long width, uint8_t* out);
// The same pixels divided by their alpha again, and the alpha.
void AbgrRowSplit(const uint32_t* abgr, Long width, uint8_t* bgr, uint8_t* alpha);

// Inverted (Adobe) CMYK to BGR, as the JPEG decoder converts it.
void CmykRowToBgr(const uint8_t* in, uint8_t* out, int width);

}  // namespace kx
