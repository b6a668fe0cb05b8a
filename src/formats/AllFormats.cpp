#include "formats/AllFormats.h"

#include "formats/AutodeskImage.h"
#include "formats/CUTImage.h"
#include "formats/PCDImage.h"
#include "formats/PCXImage.h"
#include "formats/PPMImage.h"
#include "formats/PSDImage.h"
#include "formats/PSPImage.h"
#include "formats/RLAImage.h"
#include "formats/PNGImage.h"
#include "formats/SGIImage.h"
#include "formats/TIFFImage.h"
#include "formats/TargaImage.h"

// One include and one line below per reader unit.

namespace tilvorn {

std::vector<const TGraphicClass*> AllReaderClasses() {
    return {
        &TTargaGraphic::Class(),
        &TTIFFGraphic::Class(),
        &TEPSGraphic::Class(),
        &TPCXGraphic::Class(),
        &TRLAGraphic::Class(),
        &TSGIGraphic::Class(),
        &TPSDGraphic::Class(),
        &TPPMGraphic::Class(),
        &TAutodeskGraphic::Class(),
        &TPCDGraphic::Class(),
        &TCUTGraphic::Class(),
        &TPSPGraphic::Class(),
        &TPNGGraphic::Class(),
    };
}

namespace {
bool registered = false;
}

void RegisterStandardFormats() {
    if (registered) return;
    const std::vector<const TGraphicClass*> classes = AllReaderClasses();
    RegisterFormats(GlobalFormatRegistry(), classes);
    registered = true;
}

void UnregisterStandardFormats() {
    UnregisterFormats(GlobalFormatRegistry());
    GlobalFormatRegistry().RemoveAll();
    registered = false;
}

}  // namespace tilvorn
