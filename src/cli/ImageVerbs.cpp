// Verbs over bitmap files: convert (read and write back) and blur.
#include <iostream>

#include "cli/CliVerbs.h"
#include "cli/ReaderInput.h"
#include "core/IntText.h"
#include "image/DIB.h"

namespace tilvorn::cli {

namespace {

// The image readers are asked first, by content; other files are read as bitmap files.
void LoadPicture(TDIB& dib, const std::string& fileName) { ReadInputPicture(fileName, dib); }

int RunConvert(const std::vector<std::string>& args);
int RunBlur(const std::vector<std::string>& args);

const RegisterVerb kConvert{
    {"convert", "Read a bitmap file and write it back",
     "Usage: tilvorn-cli convert [--reader EXT] IN.bmp OUT.bmp\n\n"
     "Reads IN.bmp (1, 4, 8, 16, 24 or 32 bits; RLE8 and RLE4; OS/2 and\n"
     "Windows headers; top-down or bottom-up) and writes it to OUT.bmp with\n"
     "the same bit depth. RLE pictures are written compressed as they came.\n"
     "IN may also be a JPEG file (read as 24 bits) or any picture that an image reader recognises by its\n"
     "content (TIFF, PNG, Targa, ...): it is written as 24 bits, laid on white.\n"
     "Any other file but a bitmap or JPEG one is drawn as a document, as the\n"
     "window draws it (PDF, Word, Excel and other office files, GIF, SVG, ...):\n"
     ".doc, .xls and .pdf at six times their first page at 96 dpi, others at it.\n"
     "--reader EXT reads IN with the image reader registered for the extension\n"
     "EXT whatever its content, e.g. --reader cut for Dr. Halo pictures, which\n"
     "no content test recognises (their colours come from IN's .pal file).",
     &RunConvert}};

const RegisterVerb kBlur{{"blur", "Box-blur a bitmap file",
                          "Usage: tilvorn-cli blur IN.bmp OUT.bmp BITCOUNT RADIUS\n\n"
                          "Replaces each pixel of IN.bmp by the average of the pixels within RADIUS\n"
                          "columns and rows of it and writes the result to OUT.bmp with BITCOUNT\n"
                          "bits per pixel (1, 4, 8: grey; 16: 5-6-5, or the picture's own 16-bit\n"
                          "layout; 24; 32). RADIUS 0 copies the picture unchanged.",
                          &RunBlur}};

int RunConvert(const std::vector<std::string>& args) {
    const bool withReader = args.size() == 4 && args[0] == "--reader";
    if (args.size() != 2 && !withReader)
        return UsageError(*FindVerb("convert"), "expects IN.bmp OUT.bmp (or --reader EXT IN OUT.bmp)");
    TDIB dib;
    if (withReader)
        ReadInputPictureWith(args[1], args[2], dib);
    else
        LoadPicture(dib, args[0]);
    dib.SaveToFile(args[withReader ? 3 : 1]);
    return 0;
}

int RunBlur(const std::vector<std::string>& args) {
    if (args.size() != 4) return UsageError(*FindVerb("blur"), "expects IN.bmp OUT.bmp BITCOUNT RADIUS");
    int bitCount = StrToInt(args[2]);
    int radius = StrToInt(args[3]);
    TDIB dib;
    LoadPicture(dib, args[0]);
    if (bitCount == 16)
        dib.PixelFormat = dib.BitCount() == 16 ? dib.CurrentPixelFormat() : pf565;
    else
        dib.PixelFormat = pf888;
    dib.Blur(bitCount, radius);
    dib.SaveToFile(args[1]);
    return 0;
}

}  // namespace

}  // namespace tilvorn::cli
