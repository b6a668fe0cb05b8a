// Verbs over the image readers: info (which reader takes a file and what it found).
#include <iostream>
#include <sstream>

#include "poster/Documents.h"
#include "poster/ImageFiles.h"
#include "cli/CliVerbs.h"
#include "cli/ReaderInput.h"
#include "poster/Sources.h"
#include "formats/AllFormats.h"
#include "readers/ImageReaders.h"
#include "readers/JpegFile.h"

namespace tilvorn::cli {

void ReadInputPicture(const std::string& fileName, TDIB& picture) { picture.Assign(*LoadPictureFile(fileName)); }

void ReadInputPictureWith(const std::string& readerExtension, const std::string& fileName, TDIB& picture) {
    RegisterStandardFormats();
    const TGraphicClass* readerClass = GlobalFormatRegistry().ClassForExtension(readerExtension);
    if (!readerClass || !readerClass->IsReaderClass())
        throw EInvalidGraphic("No image reader is registered for \"" + readerExtension + "\"");
    std::unique_ptr<TReaderGraphic> reader = readerClass->Create();
    reader->ReadImageFile(fileName);
    TDIB made;
    LayReaderOnWhite(*reader, made);
    picture.Assign(&made);
}

namespace {

int RunInfo(const std::vector<std::string>& args);

const RegisterVerb kInfo{{"info", "Tell which image reader takes a file and what it found",
                          "Usage: tilvorn-cli info FILE\n\n"
                          "Asks the registered image readers, in their probing order, whether FILE's\n"
                          "content is their format, reads it with the first that says yes and prints\n"
                          "the reader's class, the picture's width and height, the reader's bitmap\n"
                          "depth and the image properties it found. A file that no reader recognises\n"
                          "is named by its extension as the window would take it: \".jpg\" and \".jpeg\"\n"
                          "as JPEG pictures, \".bmp\" as a bitmap file (read, with its size), any other\n"
                          "as a document. A picture whose file names an orientation (EXIF in JPEG\n"
                          "files, TIFF's Orientation tag) gets an \"Orientation:\" line: the window\n"
                          "and convert show it turned upright.",
                          &RunInfo}};

std::string Indented(const std::string& text) {
    std::istringstream lines(text);
    std::string line, out;
    while (std::getline(lines, line)) out += "  " + line + "\n";
    return out;
}

// Named when the file names one: the window shows such a picture turned upright.
std::string OrientationLine(uint8_t orientation) {
    if (orientation == 0) return "";
    return "Orientation: " + std::to_string(orientation) + " (" + std::string(OrientationName(orientation)) + ")\n";
}

void PrintFallback(const std::string& fileName) {
    std::cout << "Reader: none recognises the content\n";
    switch (ExtensionBranch(fileName)) {
        case TExtensionBranch::JPEG: {
            std::cout << "By extension: JPEG picture\n";
            uint8_t orientation = 0;
            const std::unique_ptr<TDIB> picture = ReadJpegFile(fileName, &orientation);
            std::cout << "Width: " << picture->Width() << "\nHeight: " << picture->Height() << "\n"
                      << OrientationLine(orientation);
            break;
        }
        case TExtensionBranch::Bitmap: {
            std::cout << "By extension: bitmap file\n";
            TDIB bitmap;
            bitmap.LoadFromFile(fileName);
            std::cout << "Width: " << bitmap.Width() << "\nHeight: " << bitmap.Height()
                      << "\nBit count: " << bitmap.BitCount() << "\n";
            break;
        }
        case TExtensionBranch::Document:
            std::cout << "By extension: document\n";
            break;
    }
}

int RunInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError(*FindVerb("info"), "expects one FILE");
    const std::string& fileName = args[0];
    RegisterStandardFormats();
    const TGraphicClass* readerClass = GlobalFormatRegistry().ClassForFile(fileName);
    std::cout << "File: " << fileName << "\n";
    if (!readerClass) {
        PrintFallback(fileName);
        return 0;
    }
    std::unique_ptr<TReaderGraphic> reader = readerClass->Create();
    reader->ReadImageFile(fileName);
    std::cout << "Reader: " << readerClass->Name() << " (chosen by content)\n"
              << "Width: " << reader->Width() << "\nHeight: " << reader->Height()
              << "\nBit count: " << reader->BitCount() << "\n"
              << OrientationLine(reader->Properties.Orientation) << "Properties:\n"
              << Indented(DescribeProperties(reader->Properties));
    return 0;
}

}  // namespace

}  // namespace tilvorn::cli
