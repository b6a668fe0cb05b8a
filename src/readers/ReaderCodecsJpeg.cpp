// The TIFF JPEG decoder (compression 7) over libjpeg.
//
// libjpeg reports a fatal error by calling the error manager's error_exit, which must not
// return. Throwing a C++ exception from there would unwind through the library's C frames,
// which are built without unwind tables; so error_exit longjmps instead, back to a setjmp
// taken in RunGuarded just before the library is entered. Everything between that setjmp and
// the longjmp is the library itself and plain functions of this file (the steps below, the
// data source hooks) that hold no object with a destructor, so the jump skips no C++ clean-up.
// RunGuarded then answers false and the C++ side raises the error from there. The source
// hooks never call into the library's error paths, and the warning they show is caught in
// full inside the hook, so no exception crosses the library either.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>

#include <jpeglib.h>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "readers/ImageReaders.h"
#include "readers/JpegErrors.h"
#include "readers/ReaderCodecs.h"
#include "readers/ReaderWarnings.h"

namespace tilvorn {

namespace {

const char* const kJpegError = "JPEG error #%d";
const char* const kBogusTables = "Bogus JPEG tables field.";
const char* const kStripSize = "Improper JPEG strip/tile size.";
const char* const kComponentCount = "Improper JPEG component count.";
const char* const kDataPrecision = "Improper JPEG data precision.";
const char* const kSamplingFactors = "Improper JPEG sampling factors.";
const char* const kFractionalScanline = "Fractional JPEG scanline unsupported.";
const char* const kEarlyEnd = "JPEG decompression error. Unexpected end of input.";
const char* const kWarningCaption = "Warning";

const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

}  // namespace

/// The libjpeg objects and what their hooks need; only plain data, so that a longjmp out of
/// the library leaves nothing to clean up.
struct TTIFFJPEGDecoder::TSession {
    jpeg_decompress_struct Info;
    TJpegErrorManager Errors;  // its escape is the jump point of every guarded step
    jpeg_source_mgr Source;
    bool Created = false;
    const uint8_t* Data = nullptr;
    size_t Length = 0;
    bool WarnAtEnd = false;  // the table stream ends quietly, the strip data do not
    std::exception_ptr HookError;  // an exception raised by the warning, rethrown outside
};

namespace {

using TSession = TTIFFJPEGDecoder::TSession;

TSession& SessionOf(j_common_ptr info) { return *static_cast<TSession*>(info->client_data); }

void InitSource(j_decompress_ptr info) {
    TSession& session = SessionOf(reinterpret_cast<j_common_ptr>(info));
    info->src->next_input_byte = session.Data;
    info->src->bytes_in_buffer = session.Length;
}

void ShowEarlyEndWarning(TSession& session) noexcept {
    try {
        ReaderWarning(kEarlyEnd, kWarningCaption);
    } catch (...) {
        if (!session.HookError) session.HookError = std::current_exception();
    }
}

/// Called only when the data have run out: an end-of-image marker ends the decoding.
boolean FillInputBuffer(j_decompress_ptr info) {
    TSession& session = SessionOf(reinterpret_cast<j_common_ptr>(info));
    if (session.WarnAtEnd) ShowEarlyEndWarning(session);
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    if (static_cast<size_t>(count) > info->src->bytes_in_buffer) {
        FillInputBuffer(info);  // nothing to skip to: the data end here
        return;
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

using TStep = void (*)(TSession&, void* context);

/// Runs one step inside the library; false when the library raised a fatal error (its code
/// is in Errors.Code). Nothing here or in a step may own an object with a destructor.
bool RunGuarded(TSession& session, TStep step, void* context) {
    if (setjmp(session.Errors.Escape) != 0) return false;
    step(session, context);
    return true;
}

void Guarded(TSession& session, TStep step, void* context = nullptr) {
    const bool done = RunGuarded(session, step, context);
    if (session.HookError) {
        std::exception_ptr error = session.HookError;
        session.HookError = nullptr;
        std::rethrow_exception(error);
    }
    if (!done) throw EInvalidGraphic(Format(kJpegError, session.Errors.Code));
}

void CreateStep(TSession& session, void*) {
    jpeg_create_decompress(&session.Info);
    session.Created = true;
}

void AbortStep(TSession& session, void*) { jpeg_abort_decompress(&session.Info); }

void DestroyStep(TSession& session, void*) { jpeg_destroy_decompress(&session.Info); }

struct THeaderRead {
    boolean RequireImage;
    int Result;
};

void ReadHeaderStep(TSession& session, void* context) {
    auto* read = static_cast<THeaderRead*>(context);
    read->Result = jpeg_read_header(&session.Info, read->RequireImage);
}

void StartStep(TSession& session, void*) { jpeg_start_decompress(&session.Info); }

struct TScanlines {
    uint8_t* Row;  // one decoded row as the library writes it
    size_t RowBytes;
    bool SwapRedBlue;  // stored red-first samples are turned blue-first
    uint8_t* Target;
    size_t TargetRoom;
    size_t ScanlineBytes;  // the target's row pitch
    uint32_t Wanted;
};

void ReadScanlinesStep(TSession& session, void* context) {
    auto* lines = static_cast<TScanlines*>(context);
    const size_t samples = lines->SwapRedBlue ? session.Info.output_components : 0;
    for (uint32_t i = 0; i < lines->Wanted; ++i) {
        JSAMPROW row = lines->Row;
        if (jpeg_read_scanlines(&session.Info, &row, 1) < 1) break;
        if (samples >= 3)
            for (size_t x = 0; x + 2 < lines->RowBytes; x += samples) std::swap(lines->Row[x], lines->Row[x + 2]);
        const size_t offset = size_t(i) * lines->ScanlineBytes;
        if (offset >= lines->TargetRoom) continue;  // decoded but no room: keep reading so the strip ends cleanly
        const size_t bytes = std::min({lines->RowBytes, lines->ScanlineBytes, lines->TargetRoom - offset});
        std::memcpy(lines->Target + offset, lines->Row, bytes);
    }
    // A strip read to its last row is finished; a strip read in part is abandoned.
    if (session.Info.output_scanline >= session.Info.output_height)
        jpeg_finish_decompress(&session.Info);
    else
        jpeg_abort_decompress(&session.Info);
}

}  // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TImageProperties& ImageInfo) : ImageInfo(ImageInfo) {
    if (!ImageInfo.JpegTableBytes.empty()) {
        TableBytes = ImageInfo.JpegTableBytes.data();
        TableLength = static_cast<uint32_t>(ImageInfo.JpegTableBytes.size());
    }
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
    if (Session && Session->Created) RunGuarded(*Session, DestroyStep, nullptr);
}

void TTIFFJPEGDecoder::BeginDecompress() {
    EndDecompress();
    Session = std::make_unique<TSession>();
    TSession& session = *Session;
    session.Info.err = AttachJpegErrors(session.Errors);
    session.Info.client_data = &session;
    Guarded(session, CreateStep);

    session.Source.init_source = InitSource;
    session.Source.fill_input_buffer = FillInputBuffer;
    session.Source.skip_input_data = SkipInputData;
    session.Source.resync_to_restart = jpeg_resync_to_restart;
    session.Source.term_source = TermSource;
    session.Source.next_input_byte = nullptr;
    session.Source.bytes_in_buffer = 0;
    session.Info.src = &session.Source;

    const TByteArray& sampling = ImageInfo.ChromaSubsampling;
    HSampling = sampling.size() >= 2 ? sampling[0] : 1;
    VSampling = sampling.size() >= 2 ? sampling[1] : 1;

    if (TableBytes != nullptr) {
        session.Data = TableBytes;
        session.Length = TableLength;
        session.WarnAtEnd = false;
        THeaderRead read{FALSE, 0};
        Guarded(session, ReadHeaderStep, &read);
        if (read.Result != JPEG_HEADER_TABLES_ONLY) throw EReaderCodecs(kBogusTables);
    }
    session.Data = nullptr;
    session.Length = 0;
    session.WarnAtEnd = true;
}

void TTIFFJPEGDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    if (!Session || !Session->Created) BeginDecompress();
    TSession& session = *Session;
    jpeg_decompress_struct& info = session.Info;

    Guarded(session, AbortStep);
    DataStart = Source.Pos;
    DataLength = static_cast<uint32_t>(PackedSize > 0 ? std::min<size_t>(PackedSize, Source.Left()) : 0);
    session.Data = DataStart;
    session.Length = DataLength;
    THeaderRead read{TRUE, 0};
    Guarded(session, ReadHeaderStep, &read);

    try {
        const uint32_t rowsLeft =
            ImageInfo.ImageHeight > ImageInfo.RowCursor ? ImageInfo.ImageHeight - ImageInfo.RowCursor : 0;
        const uint32_t stripRows = ImageInfo.StripRowCounts.empty() ? rowsLeft : ImageInfo.StripRowCounts[0];
        ScanlineBytes = ImageInfo.LineBytes;
        if (info.image_width != ImageInfo.ImageWidth || info.image_height != std::min(rowsLeft, stripRows))
            throw EReaderCodecs(kStripSize);

        const bool separatePlanes = ImageInfo.PlaneLayout == 2;
        if (info.num_components != (separatePlanes ? 1 : ImageInfo.SampleCount)) throw EReaderCodecs(kComponentCount);
        if (info.data_precision != ImageInfo.SampleBits) throw EReaderCodecs(kDataPrecision);
        const int firstH = separatePlanes ? 1 : HSampling, firstV = separatePlanes ? 1 : VSampling;
        if (info.comp_info[0].h_samp_factor != firstH || info.comp_info[0].v_samp_factor != firstV)
            throw EReaderCodecs(kSamplingFactors);
        for (int c = 1; c < info.num_components; ++c)
            if (info.comp_info[c].h_samp_factor != 1 || info.comp_info[c].v_samp_factor != 1)
                throw EReaderCodecs(kSamplingFactors);

        // YCbCr data are turned into blue-first rows by the library; all other data come out
        // as stored, red-first samples then being swapped here.
        const bool ycbcr = ImageInfo.Model == ColorModel::YCbCr;
        info.jpeg_color_space = ycbcr ? JCS_YCbCr : JCS_UNKNOWN;
        info.out_color_space = ycbcr ? JCS_EXT_BGR : JCS_UNKNOWN;
        info.raw_data_out = FALSE;
        Guarded(session, StartStep);

        if (ScanlineBytes == 0 || UnpackedSize < 0 || uint32_t(UnpackedSize) % ScanlineBytes != 0)
            throw EReaderCodecs(kFractionalScanline);
        const bool redFirst = ImageInfo.Model == ColorModel::RGB || ImageInfo.Model == ColorModel::RGBA;
        RowBuffer.resize(size_t(info.output_width) * info.output_components);
        TScanlines lines{RowBuffer.data(),
                         RowBuffer.size(),
                         !ycbcr && redFirst,
                         Dest.Pos,
                         Dest.Left(),
                         ScanlineBytes,
                         uint32_t(UnpackedSize) / ScanlineBytes};
        Guarded(session, ReadScanlinesStep, &lines);
    } catch (...) {
        RunGuarded(session, AbortStep, nullptr);
        throw;
    }
}

void TTIFFJPEGDecoder::EndDecompress() {
    if (!Session) return;
    std::unique_ptr<TSession> session = std::move(Session);
    if (session->Created) {
        session->Created = false;
        Guarded(*session, DestroyStep);
    }
}

}  // namespace tilvorn
