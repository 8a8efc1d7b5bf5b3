// The streaming path's entry: opens the file, tells its format by content and
// hands it to that format's streaming decoder, which reduces the picture
// through a RowReducer.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <vector>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureFile.h"
#include "engine/files/RowSources.h"

namespace kx {

namespace {

// What the writers need beside the reduced picture: the encoders' own copies
// (WebP's and AVIF's planes, PNG's filtered rows); their tables and state
// are the allowance every library gets.
constexpr int64_t kEncoderCopies = 3;

// A picture of fewer pixels is over before a second thread pays for itself.
constexpr int64_t kThreadFromPixels = int64_t{1} << 21;

// The threads working on pictures in this process now: those in a
// PictureWorkScope, and one more for each RowReducer that has a RowPipe.
std::atomic<int> busyThreads{0};
thread_local int workScopes = 0;  // this thread's nested scopes

int Processors()
{
    static const int count = [] {
        cpu_set_t allowed;
        if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
            return CPU_COUNT(&allowed);
        return 1;
    }();
    return count;
}

int64_t SurfaceBytes(Long width, Long height) { return ((int64_t{width} * 3 + 3) & ~int64_t{3}) * height; }

bool Starts(std::span<const uint8_t> data, std::initializer_list<uint8_t> signature)
{
    return data.size() >= signature.size() && std::equal(signature.begin(), signature.end(), data.begin());
}

}  // namespace

PictureWorkScope::PictureWorkScope()
{
    if (workScopes++ == 0) ++busyThreads;
}

PictureWorkScope::~PictureWorkScope()
{
    if (--workScopes == 0) --busyThreads;
}

RowReducer::RowReducer(const StreamRequest& request, cDIBSection& out, AlphaPlane* alpha)
    : request_(request)
    , out_(out)
    , alpha_(alpha)
{
}

RowReducer::~RowReducer()
{
    if (pipe_) {
        pipe_.reset();
        --busyThreads;
    }
}

// A second thread is worth it for a large picture when this process leaves a
// processor free (a batch with one worker per processor leaves none).
bool RowReducer::UsesThread() const
{
    switch (request_.Thread) {
    case ReduceThread::Always: return true;
    case ReduceThread::Never: return false;
    case ReduceThread::WhenFree: break;
    }
    return int64_t{width_} * height_ >= kThreadFromPixels && busyThreads.load() < Processors();
}

ShrinkTarget RowReducer::StoredTarget(int orientation) const
{
    if (request_.AutoOrient && SwapsSides(orientation)) return {request_.Height, request_.Width};
    return {request_.Width, request_.Height};
}

bool RowReducer::Reduces(Long width, Long height, int orientation)
{
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    target_ = StoredTarget(orientation_);
    width_ = width;
    height_ = height;
    return width > 0 && height > 0 && target_.Width >= 1 && target_.Height >= 1 && target_.Width <= width &&
           target_.Height <= height && (target_.Width < width || target_.Height < height);
}

bool RowReducer::Start(int64_t decoderBytes, size_t rawBytes)
{
    const int64_t reduced = SurfaceBytes(target_.Width, target_.Height);
    const bool turns = request_.AutoOrient && orientation_ != 1;
    const int64_t working = StreamingLanczos::WorkingBytes(width_, height_, target_.Width, target_.Height);
    // With alpha: its reducer, its grey result (turned too) and plane, and
    // the rows handed to the two reducers.
    const int64_t alpha = !withAlpha_ ? 0
                                      : working + reduced * (turns ? 2 : 1) +
                                            int64_t{target_.Width} * target_.Height * (turns ? 3 : 2) +
                                            int64_t{width_} * 6;
    threaded_ = UsesThread();
    rawBytes_ = rawBytes;
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    const size_t alphaBytes = withAlpha_ ? rowBytes / 3 : 0;
    const int64_t pipe = !threaded_ ? 0
                         : rawBytes ? RowPipe::Bytes(rawBytes, 0)
                                    : RowPipe::Bytes(rowBytes, alphaBytes);
    const int64_t need = working + reduced * (turns ? 2 : 1) + reduced * kEncoderCopies + kLibraryStateBytes +
                         std::max<int64_t>(decoderBytes, 0) + alpha + pipe;
    if (!ReservePictureMemory(need)) return false;
    const bool started =
        reducer_.Start(width_, height_, target_.Width, target_.Height, out_) &&
        (!withAlpha_ || alphaReducer_.Start(width_, height_, target_.Width, target_.Height, alphaOut_));
    if (!started) {
        SetFailureReason("out of memory");
        return false;
    }
    premultiplied_.resize(withAlpha_ ? rowBytes : 0);
    grey_.resize(premultiplied_.size());
    if (threaded_ && !rawBytes)
        StartThread(rowBytes, alphaBytes, [this, rowBytes](const uint8_t* row) {
            withAlpha_ ? PushNow(row, row + rowBytes) : reducer_.Push(row);
        });
    return true;
}

bool RowReducer::LateOrientation(int orientation)
{
    if (orientation < 1 || orientation > 8 || orientation == orientation_) return true;
    const ShrinkTarget turned = StoredTarget(orientation);
    if (turned.Width != target_.Width || turned.Height != target_.Height) return false;
    // The turned copy of the reduced picture (and of its alpha) beside it.
    const int64_t copy = SurfaceBytes(target_.Width, target_.Height) * (withAlpha_ ? 2 : 1);
    if (request_.AutoOrient && !CountMorePictureMemory(copy)) return false;
    orientation_ = orientation;
    return true;
}

// Without a thread (none can be made), the rows are reduced on the decoder's.
void RowReducer::StartThread(size_t colourBytes, size_t alphaBytes, RowPipe::Sink sink)
{
    try {
        pipe_ = std::make_unique<RowPipe>(colourBytes, alphaBytes, std::move(sink));
        ++busyThreads;
    } catch (const std::exception&) {}
}

void RowReducer::PrepareWith(Prepare prepare)
{
    prepare_ = std::move(prepare);
    if (threaded_) StartThread(rawBytes_, 0, prepare_);
}

void RowReducer::PushNow(const uint8_t* bgr, const uint8_t* alpha)
{
    PremultiplyRow(bgr, alpha, width_, premultiplied_.data());
    for (Long x = 0; x < width_; ++x) std::fill_n(&grey_[3 * static_cast<size_t>(x)], 3, alpha[x]);
    reducer_.Push(premultiplied_.data());
    alphaReducer_.Push(grey_.data());
}

bool RowReducer::Finish(PictureMetadata& metadata)
{
    if (pipe_) pipe_->Finish();
    reducer_.Finish();
    if (redFirst_)
        for (Long y = 0; y < out_.Height(); ++y)
            for (uint8_t *p = out_.PictureRow(y), *end = p + 3 * static_cast<size_t>(out_.Width()); p < end;
                 p += 3)
                std::swap(p[0], p[2]);
    if (withAlpha_) alphaReducer_.Finish();
    metadata.Orientation = orientation_;
    const bool turns = request_.AutoOrient && orientation_ != 1;
    if (turns) {
        metadata.Orientation = 1;
        if (!TurnUpright(out_, orientation_) || (withAlpha_ && !TurnUpright(alphaOut_, orientation_)))
            return false;
    }
    if (!withAlpha_) return true;
    *alpha_ = AlphaOfGrey(alphaOut_);
    alphaOut_.ClearUp();
    Unpremultiply(out_, *alpha_);
    return true;
}

StreamOutcome LoadReducedPicture(const std::string& path, const StreamRequest& request, cDIBSection& surface,
                                 PictureMetadata& metadata, AlphaPlane* alpha)
{
    surface.ClearUp();
    if (alpha) alpha->Clear();
    metadata = PictureMetadata{};
    if (request.Width < 1 || request.Height < 1) return StreamOutcome::WholePicture;
    StreamOutcome outcome = StreamOutcome::Failed;
    const char* format = nullptr;
    const std::string reasonBefore = FailureReason();
    try {
        FileDescriptor file(-1);
        int64_t size = 0;
        if (!OpenPictureFile(path, file, size)) return StreamOutcome::Failed;
        std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(size, int64_t{64} << 10)));
        const int64_t got = ReadAt(file.fd, head.data(), head.size(), 0);
        if (got < 0) {
            SetFailureReason(ErrnoReason(errno));
            return StreamOutcome::Failed;
        }
        head.resize(static_cast<size_t>(got));
        const PictureSource source{file.fd, size, head};
        RowReducer reducer(request, surface, alpha);
        if (Starts(head, {0xFF, 0xD8, 0xFF}))
            format = "JPEG", outcome = StreamJpeg(source, reducer, metadata);
        else if (Starts(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
            format = "PNG", outcome = StreamPng(source, reducer, metadata);
        else if (Starts(head, {'B', 'M'}))
            format = "BMP", outcome = StreamBmp(source, reducer, metadata);
        else if (LooksLikeWebp(head))
            format = "WebP", outcome = StreamWebp(source, reducer, metadata);
        else if (!LooksLikeHeif(head) && LooksLikeTiff(head))
            format = "TIFF", outcome = StreamTiff(source, reducer, metadata);
        else
            outcome = StreamOutcome::WholePicture;  // GIF, HEIF and anything unknown
        if (outcome == StreamOutcome::Done && !reducer.Finish(metadata)) outcome = StreamOutcome::Failed;
    } catch (const std::bad_alloc&) {
        SetFailureReason("out of memory");
        outcome = StreamOutcome::Failed;
    } catch (...) {
        outcome = StreamOutcome::Failed;
    }
    // A decoder that gave no reason of its own.
    if (outcome == StreamOutcome::Failed && format)
        SetFailureReason(std::string("corrupt or truncated ") + format + " data");
    // A plane that hides nothing is not kept.
    if (alpha && (outcome != StreamOutcome::Done || !alpha->HasTransparency())) alpha->Clear();
    if (outcome != StreamOutcome::Done) {
        surface.ClearUp();
        metadata = PictureMetadata{};
    }
    // The whole-picture path gives its own reasons.
    if (outcome == StreamOutcome::WholePicture) {
        ClearFailureReason();
        if (!reasonBefore.empty()) SetFailureReason(reasonBefore);
    }
    return outcome;
}

}  // namespace kx
