// The message texts of the image reader framework. Readers substitute their format's name
// for %s; the colour manager and the decompressors raise the texts as they stand.
#pragma once

namespace tilvorn::readertext {

// Loading errors (EInvalidGraphic unless noted).
inline constexpr const char* InvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* InvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* StreamReadError = "Stream read error in %s file.";
/// First %s: what is not supported (e.g. "The compression scheme is" + the scheme's name).
inline constexpr const char* FeatureNotSupported = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* CompressionSchemeIs = "The compression scheme is";
inline constexpr const char* CRCError = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* CompressionError = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* ExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* InvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* UnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";

// Progress phases.
inline constexpr const char* Preparing = "Preparing...";
inline constexpr const char* LoadingData = "Loading data...";
inline constexpr const char* Upsampling = "Upsampling...";
inline constexpr const char* Transfering = "Transfering...";

// The registry.
inline constexpr const char* RegisteredTwice = "Attempt to register %s twice.";

// The colour manager (EColorConversionError).
inline constexpr const char* IndexedConversion =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* NoConversionMethod = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* InvalidColorDepth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* InvalidSampleCount =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* InvalidSubsampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* VerticalSubsampling =
    "Vertical subsampling value must be <= horizontal subsampling value.";

}  // namespace tilvorn::readertext
