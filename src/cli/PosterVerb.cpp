// tilvorn-cli poster: the window's poster job without a window. The options are applied in
// the order the window applies its controls: picture, printer or sheet, width (the height
// following the proportion), height, margins and overlaps, then the split mode.
#include <QGuiApplication>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "poster/Geometry.h"
#include "poster/Output.h"
#include "poster/PosterPdf.h"
#include "poster/Sources.h"
#include "poster/PrinterSheet.h"
#include "poster/SetAsString.h"
#include "cli/CliVerbs.h"
#include "cli/ReaderInput.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/IntText.h"
#include "image/DIB.h"
#include "platform/Printer.h"
#include "platform/Terminal.h"
#include "platform/qt/QtPrinter.h"

namespace tilvorn::cli {

namespace {

int RunPoster(const std::vector<std::string>& args);

const RegisterVerb kPoster{{"poster", "Cut a picture into poster sheets and save them as JPEG files or one PDF",
                            "Usage: tilvorn-cli poster PICTURE --out BASE [options]\n"
                            "       tilvorn-cli poster PICTURE --pdf FILE [--out BASE] [options]\n"
                            "       tilvorn-cli poster PICTURE --printer NAME --print [options]\n\n"
                            "Reads PICTURE as the window does (image readers by content, then JPEG and bitmap\n"
                            "files, then documents), lays the poster out and saves one JPEG file per chosen sheet,\n"
                            "named BASE(COLUMN;ROW).JPG. First it prints the layout as key=value lines: columns,\n"
                            "rows, pages, poster_mm, poster_px, sheet_px, margins_px, overlaps_px, scale_x, scale_y,\n"
                            "picture_dpi (picture pixels per inch on paper);\n"
                            "then the path of each file written. Progress goes to stderr when it is a terminal.\n\n"
                            "Options:\n"
                            "  --out BASE            base name of the sheet files (required without --pdf, also\n"
                            "                        with --dry-run)\n"
                            "  --width MM            poster width in millimetres (default: the picture's width in\n"
                            "                        pixels, one millimetre per pixel)\n"
                            "  --height MM           poster height in millimetres; only with --no-keep-scale (with\n"
                            "                        the proportion kept the height follows the width)\n"
                            "  --keep-scale          keep the picture's proportion (default)\n"
                            "  --no-keep-scale       let width and height be set independently\n"
                            "  --split MODE          as-is (default), width (whole sheets across) or height (whole\n"
                            "                        sheets down)\n"
                            "  --sheet SHEET         typed sheet: A4 (default), A4L (A4 landscape) or WxH in mm\n"
                            "  --dpi N               resolution of the typed sheet (default 300)\n"
                            "  --printer NAME        take the sheet from an installed printer instead (paper,\n"
                            "                        resolution and unprintable strips); NAME PDF is an A4 printer\n"
                            "                        at 300 DPI with 5 mm strips when no printer has that name\n"
                            "  --margins X,Y         margins in mm (default: the least that clears the unprintable\n"
                            "                        strips, at least 1)\n"
                            "  --overlaps X,Y        overlaps in mm (default 5,5)\n"
                            "  --pages LIST          pages to save, e.g. 1-3,5 (default: all)\n"
                            "  --depth 32|24|8       bits per pixel of the sheets (default 24; 8 is grey)\n"
                            "  --enlarge HOW         smooth (default: interpolated between the picture's pixels)\n"
                            "                        or blocks (a plain stretch softened by a box blur)\n"
                            "  --labels              assembly aids: each sheet names itself and its neighbours where\n"
                            "                        the assembled poster hides it, and a map sheet BASE(map).JPG\n"
                            "                        (the PDF's first page) shows the grid\n"
                            "  --pdf FILE            also write the chosen sheets as one PDF file, a page per sheet\n"
                            "                        (with or without --out)\n"
                            "  --print               print the chosen sheets on the printer of --printer, one job\n"
                            "                        per sheet titled (ROW;COLUMN), as the window prints them\n"
                            "  --dry-run             print the layout only",
                            &RunPoster}};

struct TPosterOptions {
    std::string picture, out;
    std::optional<int> width, height;
    bool keepScale = true;
    TSplitMode split = TSplitMode::AsIs;
    int sheetWidthMm = 210, sheetHeightMm = 297, dpi = 300;
    std::optional<std::string> printer;
    std::optional<std::pair<int, int>> margins;
    std::pair<int, int> overlaps{5, 5};
    std::optional<std::string> pages;
    int depth = 24;
    bool dryRun = false;
    TEnlargement enlargement = TEnlargement::Smooth;
    std::string pdf;
    bool labels = false;
    bool print = false;
};

TEnlargement EnlargementOption(const std::string& text) {
    if (text == "smooth") return TEnlargement::Smooth;
    if (text == "blocks") return TEnlargement::Blocks;
    throw EConvertError("--enlarge: expects smooth or blocks, not '" + text + "'");
}

// Picture pixels per inch of paper, "X" or "XxY" when the axes differ.
std::string PictureDpiText(const TSheetGeometry& sheet, const TLayout& layout) {
    const TPictureDpi dpi = PictureDpi(sheet, layout.Scale);
    return dpi.X == dpi.Y ? std::to_string(dpi.X) : std::to_string(dpi.X) + "x" + std::to_string(dpi.Y);
}

// The typed sheet's resolution: above it one sheet image outgrows the picture memory limit.
constexpr int kMostDpi = 2400;

// A value outside what the option can take says so, with the range.
int NumberInRange(const std::string& option, int64_t value, int64_t least, int64_t most) {
    if (value < least || value > most)
        throw EConvertError(Format("%s: %d is out of range; it must be between %d and %d", option, value, least, most));
    return int(value);
}

int Number(const std::string& option, const std::string& text) {
    std::optional<int64_t> value = ParseIntText(text);
    const size_t digits = text.find_first_not_of("+-") == 1 || text.find_first_not_of("+-") == 0
        ? text.find_first_not_of("+-")
        : std::string::npos;
    const bool allDigits = digits != std::string::npos && digits < text.size() &&
        text.find_first_not_of("0123456789", digits) == std::string::npos;
    if (!value && allDigits)  // a whole number, only too large for 32 bits
        throw EConvertError(Format("%s: %s is out of range; it must be between %d and %d", option, text,
                                   int64_t(INT32_MIN), int64_t(INT32_MAX)));
    if (!value) throw EConvertError(Format("%s: '%s' is not a valid integer value", option, text));
    return NumberInRange(option, *value, INT32_MIN, INT32_MAX);
}

std::pair<int, int> Pair(const std::string& option, const std::string& text, char separator) {
    size_t at = text.find(separator);
    if (at == std::string::npos)
        throw EConvertError(Format("%s: expects two numbers separated by '%s'", option, std::string(1, separator)));
    return {Number(option, text.substr(0, at)), Number(option, text.substr(at + 1))};
}

TPosterOptions ParseOptions(const std::vector<std::string>& args) {
    TPosterOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EConvertError(a + " needs a value");
            return args[++i];
        };
        if (a == "--out")
            o.out = value();
        else if (a == "--width")
            o.width = Number(a, value());
        else if (a == "--height")
            o.height = Number(a, value());
        else if (a == "--keep-scale")
            o.keepScale = true;
        else if (a == "--no-keep-scale")
            o.keepScale = false;
        else if (a == "--split") {
            const std::string& m = value();
            if (m == "as-is")
                o.split = TSplitMode::AsIs;
            else if (m == "width")
                o.split = TSplitMode::PageWidth;
            else if (m == "height")
                o.split = TSplitMode::PageHeight;
            else
                throw EConvertError("--split: expects as-is, width or height, not '" + m + "'");
        } else if (a == "--sheet") {
            const std::string& s = value();
            if (s == "A4")
                o.sheetWidthMm = 210, o.sheetHeightMm = 297;
            else if (s == "A4L")
                o.sheetWidthMm = 297, o.sheetHeightMm = 210;
            else
                std::tie(o.sheetWidthMm, o.sheetHeightMm) = Pair(a, s, 'x');
        } else if (a == "--dpi")
            o.dpi = Number(a, value());
        else if (a == "--printer")
            o.printer = value();
        else if (a == "--margins")
            o.margins = Pair(a, value(), ',');
        else if (a == "--overlaps")
            o.overlaps = Pair(a, value(), ',');
        else if (a == "--pages")
            o.pages = value();
        else if (a == "--depth") {
            o.depth = Number(a, value());
            if (o.depth != 32 && o.depth != 24 && o.depth != 8) throw EConvertError("--depth: expects 32, 24 or 8");
        } else if (a == "--enlarge")
            o.enlargement = EnlargementOption(value());
        else if (a == "--pdf")
            o.pdf = value();
        else if (a == "--labels")
            o.labels = true;
        else if (a == "--print")
            o.print = true;
        else if (a == "--dry-run")
            o.dryRun = true;
        else if (!a.empty() && a[0] == '-')
            throw EConvertError("unknown option " + a);
        else if (o.picture.empty())
            o.picture = a;
        else
            throw EConvertError("more than one picture: " + a);
    }
    if (o.picture.empty()) throw EConvertError("expects a PICTURE");
    if (o.out.empty() && o.pdf.empty() && !o.print) throw EConvertError("expects --out BASE, --pdf FILE or --print");
    if (o.print && !o.printer) throw EConvertError("--print needs --printer NAME: the sheets follow its paper");
    if (o.height && o.keepScale) throw EConvertError("--height needs --no-keep-scale: the height follows the width");
    if (o.sheetWidthMm <= 0 || o.sheetHeightMm <= 0) throw EConvertError("--sheet: sizes must be positive");
    if (o.dpi <= 0) throw EConvertError("--dpi: must be positive");
    NumberInRange("--dpi", o.dpi, 1, kMostDpi);
    return o;
}

// The printer named on the command line, as the window reads it in printer mode; it prints
// the sheets of --print.
class TNamedPrinter {
public:
    TNamedPrinter(const std::string& name, std::unique_ptr<QGuiApplication>& app) {
        if (!QGuiApplication::instance()) {
            static int argc = 1;
            static char arg0[] = "tilvorn-cli";
            static char* argv[] = {arg0, nullptr};
            // Reading a printer needs no screen.
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
                qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QGuiApplication>(argc, argv);
        }
        installed_ = std::make_unique<platform::TQtPrinter>();
        std::vector<std::string> names = installed_->Printers();
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) {
                installed_->SetPrinterIndex(int(i));
                printer_ = installed_.get();
            }
        if (!printer_ && name == "PDF") {
            pdf_ = std::make_unique<platform::TPdfPrinter>(std::filesystem::temp_directory_path().string());
            printer_ = pdf_.get();
        }
        if (!printer_) throw Exception("There is no printer named \"" + name + "\"");
    }
    platform::TPrinter& Printer() { return *printer_; }

private:
    std::unique_ptr<platform::TQtPrinter> installed_;
    std::unique_ptr<platform::TPdfPrinter> pdf_;
    platform::TPrinter* printer_ = nullptr;
};

// The pages a --pages list names within the poster, walked range by range. Items that name
// no page (not a number or range, a reversed range, pages beyond the poster) are named on
// stderr; a list that names no page at all is an error.
TIntArray ChosenPages(const std::string& list, int32_t pageCount) {
    TSetAsString chosen;
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        TSetAsString one;
        one.SetAsString(item);
        bool inside = false;
        one.ForEachRangeWithin(1, pageCount, [&](int32_t, int32_t) { inside = true; });
        if (inside)
            chosen.AddFromString(item);
        else
            std::cerr << Format("--pages: '%s' names no page of the poster's %d; left out", item, pageCount)
                      << std::endl;
        if (comma == list.size()) break;
        start = comma + 1;
    }
    TIntArray pages = chosen.AsArrayWithin(1, pageCount);
    if (pages.empty())
        throw Exception(Format("--pages: '%s' names no page of the poster, whose pages are 1 to %d", list, pageCount));
    return pages;
}

class TTerminalProgress : public TOutputHost {
public:
    TTerminalProgress() : terminal_(platform::StandardErrorIsTerminal()) {}
    void OverallProgress(int64_t position, int64_t maximum) override {
        if (!terminal_ || maximum <= 0) return;
        std::fprintf(stderr, "\rsheets: %3d%%", int(position * 100 / maximum));
        std::fflush(stderr);
    }
    void Saved(const std::string& fileName) override {
        if (terminal_) std::fprintf(stderr, "\r\033[K");
        std::cout << fileName << std::endl;
    }
    ~TTerminalProgress() override {
        if (terminal_) std::fprintf(stderr, "\r\033[K");
    }

private:
    bool terminal_ = false;
};

void WritePdf(const TPosterOptions& o, const TSheetLayout& layout, TDIB& picture, const TPictureOrigin& origin,
              const std::vector<int>& pages, TTerminalProgress& progress) {
    WritePosterPdf(layout, picture, origin, pages, o.depth, o.pdf, progress);
    progress.Saved(o.pdf);
}

int RunPoster(const std::vector<std::string>& args) {
    TPosterOptions o;
    try {
        o = ParseOptions(args);
    } catch (const EConvertError& e) {
        return UsageError(*FindVerb("poster"), e.what());
    }
    TPictureOrigin origin;
    TDIB picture;
    picture.Assign(*LoadPictureFile(o.picture, origin));
    if (picture.Width() < 1) throw EInvalidGraphic(o.picture + " holds no picture");

    std::unique_ptr<QGuiApplication> app;
    std::unique_ptr<TNamedPrinter> printer;
    if (o.printer) printer = std::make_unique<TNamedPrinter>(*o.printer, app);
    TSheetGeometry sheet = printer ? SheetOfPrinter(printer->Printer())
                                   : SheetFromPaper(o.sheetWidthMm, o.sheetHeightMm, PxPerMmFromDpi(o.dpi));
    TMarginsAndOverlaps lengths;
    lengths.MarginXMm = DefaultMarginMm(sheet.OffsetLeftPx, sheet.OffsetRightPx, sheet.PxPerMmX);
    lengths.MarginYMm = DefaultMarginMm(sheet.OffsetTopPx, sheet.OffsetBottomPx, sheet.PxPerMmY);

    TPosterSize size;
    size.NewWidth = o.width.value_or(picture.Width());
    size.NewHeight = o.keepScale ? FollowProportion(size.NewWidth, picture.Width(), picture.Height())
                                 : o.height.value_or(picture.Height());
    if (o.margins) std::tie(lengths.MarginXMm, lengths.MarginYMm) = *o.margins;
    std::tie(lengths.OverlapXMm, lengths.OverlapYMm) = o.overlaps;
    TSheetConversion conversion = ConvertSheet(sheet, lengths);
    CheckSheetSettings(conversion, lengths);
    size = ApplySplitMode(o.split, size, o.keepScale, picture.Width(), picture.Height(), conversion, lengths);
    TLayout layout = ComputeLayout(sheet, lengths, size, picture.Width(), picture.Height());

    const TSheetConversion& c = layout.Conversion;
    std::cout << "columns=" << layout.Counts.Columns << "\n"
              << "rows=" << layout.Counts.Rows << "\n"
              << "pages=" << layout.Pages << "\n"
              << "poster_mm=" << size.NewWidth << "x" << size.NewHeight << "\n"
              << "poster_px=" << layout.Poster.PosterWidthPx << "x" << layout.Poster.PosterHeightPx << "\n"
              << "sheet_px=" << sheet.SheetWidthPx << "x" << sheet.SheetHeightPx << "\n"
              << "margins_px=" << c.MarginXPx << "x" << c.MarginYPx << "\n"
              << "overlaps_px=" << c.OverlapXPx << "x" << c.OverlapYPx << "\n"
              << "scale_x=" << layout.Scale.ScaleXNum << ":" << layout.Scale.ScaleXDen << "\n"
              << "scale_y=" << layout.Scale.ScaleYNum << ":" << layout.Scale.ScaleYDen << "\n"
              << "picture_dpi=" << PictureDpiText(sheet, layout) << std::endl;
    if (o.dryRun) return 0;

    const TIntArray chosen = o.pages ? ChosenPages(*o.pages, int32_t(layout.Pages)) : TIntArray{};
    std::vector<int> pages(chosen.begin(), chosen.end());
    if (!o.pages)
        for (int64_t page = 1; page <= layout.Pages; ++page) pages.push_back(int(page));

    TSheetLayout s = SheetLayoutOf(sheet, layout);
    s.Enlargement = o.enlargement;
    s.Labels = o.labels;
    TTerminalProgress progress;
    if (!o.out.empty()) RunOutput(TOutputMode::Save, s, picture, pages, o.depth, o.out, progress);
    if (!o.pdf.empty()) WritePdf(o, s, picture, origin, pages, progress);
    if (o.print) {
        const platform::ScopedPrinter use(printer->Printer());
        RunOutput(TOutputMode::Print, s, picture, pages, o.depth, "", progress);
    }
    return 0;
}

}  // namespace

}  // namespace tilvorn::cli
