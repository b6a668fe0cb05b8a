#include "formats/AllFormats.h"

#include <algorithm>

#include "formats/AutodeskImage.h"
#include "formats/CUTImage.h"
#include "formats/HEIFImage.h"
#include "formats/PCDImage.h"
#include "formats/PCXImage.h"
#include "formats/PNGImage.h"
#include "formats/PPMImage.h"
#include "formats/PSDImage.h"
#include "formats/PSPImage.h"
#include "formats/RLAImage.h"
#include "formats/SGIImage.h"
#include "formats/TIFFImage.h"
#include "formats/TargaImage.h"

// A new reader unit: its include above and its rows in the table below.

namespace tilvorn {

namespace {

constexpr FormatKinds kRaster{FormatKind::Raster};
constexpr FormatKinds kVector{FormatKind::Vector};
constexpr FormatKinds kRasterMulti{FormatKind::Raster, FormatKind::MultiImage};
constexpr FormatKinds kRasterLayered{FormatKind::Raster, FormatKind::Layered};
constexpr FormatKinds kRasterVector{FormatKind::Raster, FormatKind::Vector};

bool registered = false;

}  // namespace

std::span<const TRegistrationRow> RegistrationTable() {
    // Made on first use: the class values are themselves made on first use.
    static const TRegistrationRow rows[] = {
        {"bmp", "Windows bitmaps", "", kRaster, &BitmapGraphicClass()},
        {"ico", "Windows icons", "", kRaster, &IconGraphicClass()},
        {"wmf", "Windows metafiles", "", kVector, &MetafileGraphicClass()},
        {"emf", "Windows metafiles", "Windows enhanced meta files", kVector, &MetafileGraphicClass()},
        {"jfif", "JPG images", "JFIF images", kRaster, &JPEGImageClass()},
        {"jpg", "", "JPG images", kRaster, &JPEGImageClass()},
        {"jpe", "", "JPE images", kRaster, &JPEGImageClass()},
        {"jpeg", "", "JPEG images", kRaster, &JPEGImageClass()},
        {"rle", "Windows bitmaps", "Run length encoded Windows bitmaps", kRaster, &BitmapGraphicClass()},
        {"dib", "", "Device independant Windows bitmaps", kRaster, &BitmapGraphicClass()},
        {"win", "Truevision images", "", kRaster, &TTargaGraphic::Class()},
        {"vst", "", "", kRaster, &TTargaGraphic::Class()},
        {"vda", "", "", kRaster, &TTargaGraphic::Class()},
        {"tga", "", "", kRaster, &TTargaGraphic::Class()},
        {"icb", "", "", kRaster, &TTargaGraphic::Class()},
        {"tiff", "Tagged image file format images", "Macintosh TIFF images", kRasterMulti, &TTIFFGraphic::Class()},
        {"tif", "", "PC TIF images", kRasterMulti, &TTIFFGraphic::Class()},
        {"fax", "", "GFI fax images", kRasterMulti, &TTIFFGraphic::Class()},
        {"eps", "Encapsulated Postscript images", "", kRaster, &TEPSGraphic::Class()},
        {"pcx", "ZSoft Paintbrush images", "", kRaster, &TPCXGraphic::Class()},
        {"pcc", "", "", kRaster, &TPCXGraphic::Class()},
        {"scr", "", "Word 5.x screen capture images", kRaster, &TPCXGraphic::Class()},
        {"rpf", "Alias/Wavefront images", "", kRaster, &TRLAGraphic::Class()},
        {"rla", "", "", kRaster, &TRLAGraphic::Class()},
        {"sgi", "SGI images", "SGI true color images", kRaster, &TSGIGraphic::Class()},
        {"rgba", "", "SGI true color images with alpha", kRaster, &TSGIGraphic::Class()},
        {"rgb", "", "SGI true color images", kRaster, &TSGIGraphic::Class()},
        {"bw", "", "SGI black/white images", kRaster, &TSGIGraphic::Class()},
        {"psd", "Photoshop images", "", kRasterLayered, &TPSDGraphic::Class()},
        {"pdd", "", "", kRasterLayered, &TPSDGraphic::Class()},
        {"ppm", "Portable map images", "Portable pixel map images", kRaster, &TPPMGraphic::Class()},
        {"pgm", "", "Portable gray map images", kRaster, &TPPMGraphic::Class()},
        {"pbm", "", "Portable bitmap images", kRaster, &TPPMGraphic::Class()},
        {"cel", "Autodesk images", "", kRaster, &TAutodeskGraphic::Class()},
        {"pic", "Autodesk images", "", kRaster, &TAutodeskGraphic::Class()},
        {"pcd", "Kodak Photo-CD images", "", kRaster, &TPCDGraphic::Class()},
        {"cut", "Dr. Halo images", "", kRaster, &TCUTGraphic::Class()},
        {"psp", "Paintshop Pro images", "", kRasterVector, &TPSPGraphic::Class()},
        {"png", "Portable network graphic images", "", kRaster, &TPNGGraphic::Class()},
        {"heic", "HEIF images", "HEIC images", kRaster, &THEIFGraphic::Class()},
        {"heif", "", "HEIF images", kRaster, &THEIFGraphic::Class()},
        {"avif", "", "AVIF images", kRaster, &THEIFGraphic::Class()},
    };
    return rows;
}

std::span<const TWithdrawalStep> ShutdownOrder() {
    // The reader classes one by one, the bitmap's "rle" and "dib", then PNG; the rest goes
    // with the registry's RemoveAll.
    static const TWithdrawalStep steps[] = {
        {"", &TPSPGraphic::Class()},      {"", &TPSDGraphic::Class()}, {"", &TTargaGraphic::Class()},
        {"", &TTIFFGraphic::Class()},     {"", &TSGIGraphic::Class()}, {"", &TPCXGraphic::Class()},
        {"", &TAutodeskGraphic::Class()}, {"", &TPCDGraphic::Class()}, {"", &TPPMGraphic::Class()},
        {"", &TCUTGraphic::Class()},      {"", &TRLAGraphic::Class()}, {"rle", &BitmapGraphicClass()},
        {"dib", &BitmapGraphicClass()},   {"", &TPNGGraphic::Class()}, {"", &THEIFGraphic::Class()},
    };
    return steps;
}

std::vector<const TGraphicClass*> AllReaderClasses() {
    std::vector<const TGraphicClass*> classes;
    for (const TRegistrationRow& row : RegistrationTable()) {
        const TGraphicClass* c = row.GraphicClass;
        if (c->IsReaderClass() && std::find(classes.begin(), classes.end(), c) == classes.end()) classes.push_back(c);
    }
    return classes;
}

void RegisterStandardFormats() {
    if (registered) return;
    RegisterFormats(GlobalFormatRegistry(), RegistrationTable());
    registered = true;
}

void UnregisterStandardFormats() {
    UnregisterFormats(GlobalFormatRegistry(), ShutdownOrder());
    GlobalFormatRegistry().RemoveAll();
    registered = false;
}

}  // namespace tilvorn
