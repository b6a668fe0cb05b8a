#include "platform/qt/QtDocumentRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <poppler-qt6.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

#include "core/Format.h"

namespace tilvorn::platform {

namespace {

// What the user reads when a file cannot be drawn: each says what is missing or what failed.
constexpr const char* kFileMissing = "Cannot open \"%s\": the file does not exist or cannot be read.";
constexpr const char* kNoOfficeSuite =
    "Cannot open \"%s\": no office suite is installed to draw it (LibreOffice was not found).";
constexpr const char* kOfficeNotStarted = "Cannot open \"%s\": LibreOffice could not be started (%s).";
constexpr const char* kOfficeTimeout =
    "Cannot open \"%s\": LibreOffice did not finish converting it within %d seconds and was ended.";
constexpr const char* kOfficeFailed = "Cannot open \"%s\": LibreOffice could not convert it to PDF.";
constexpr const char* kNoTemporaryFolder = "Cannot open \"%s\": no temporary folder could be made for it.";
constexpr const char* kPdfDamaged = "Cannot open \"%s\": the PDF file is damaged or is not a PDF file.";
constexpr const char* kPdfLocked = "Cannot open \"%s\": the PDF file is protected by a password.";
constexpr const char* kPdfEmpty = "Cannot open \"%s\": the PDF file has no pages.";
constexpr const char* kDrawFailed = "Cannot draw \"%s\" at %d x %d pixels: %s.";
constexpr const char* kMissingPlugin = "Cannot open \"%s\": the Qt image plug-in for %s files is not installed.";
constexpr const char* kUnknownKind = "Cannot open \"%s\": nothing installed here can draw this kind of file.";
constexpr const char* kUnreadablePicture = "Cannot open \"%s\": %s.";
constexpr const char* kNotOfficeContent = "Cannot open \"%s\": its content does not match its .%s name (%s).";

constexpr double kNaturalDpi = 96.0;
constexpr double kPointsPerInch = 72.0;

// Files the office suite converts; anything else that is not a PDF goes to the image plug-ins.
constexpr const char* kOfficeExtensions[] = {
    "doc", "docx", "docm", "dot",  "dotx", "dotm", "rtf", "odt",  "ott",  "fodt", "sxw", "wpd", "wps",
    "xls", "xlsx", "xlsm", "xlsb", "xlt",  "xltx", "ods", "ots",  "fods", "sxc",  "csv", "ppt", "pptx",
    "pps", "ppsx", "odp",  "otp",  "fodp", "sxi",  "odg", "fodg", "vsd",  "vsdx", "pub"};

// Picture kinds whose Qt plug-in is a package of its own: a missing plug-in is named.
constexpr const char* kPluginPictureExtensions[] = {"svg", "svgz", "webp", "tif",  "tiff", "ico",  "icns",
                                                    "tga", "wbmp", "jp2",  "heic", "heif", "avif", "jxl"};

std::string ShortName(const QString& fileName) { return QFileInfo(fileName).fileName().toStdString(); }

QString Suffix(const QString& fileName) { return QFileInfo(fileName).suffix().toLower(); }

template <std::size_t N>
bool Contains(const char* const (&list)[N], const QString& suffix) {
    return std::any_of(std::begin(list), std::end(list), [&](const char* item) { return suffix == item; });
}

// What an office file must hold before LibreOffice is started on it: random bytes under an
// office name would otherwise be drawn as a page of garbage text. Kinds not listed (CSV, the
// flat XML ones, WordPerfect) are passed on as they are.
enum class OfficeContent { ZipWith, CompoundFile, Rtf };
struct TOfficeKind {
    OfficeContent content;
    const char* entry;  // the zip entry every such file has
    const char* missing;
    std::initializer_list<const char*> extensions;
};
const TOfficeKind kOfficeKinds[] = {
    {OfficeContent::ZipWith,
     "[Content_Types].xml",
     "no zip archive with [Content_Types].xml",
     {"docx", "docm", "dotx", "dotm", "xlsx", "xlsm", "xlsb", "xltx", "pptx", "ppsx", "vsdx"}},
    {OfficeContent::ZipWith,
     "mimetype",
     "no zip archive with a mimetype entry",
     {"odt", "ott", "ods", "ots", "odp", "otp", "odg", "sxw", "sxc", "sxi"}},
    {OfficeContent::CompoundFile,
     nullptr,
     "no compound-file signature",
     {"doc", "dot", "xls", "xlt", "ppt", "pps", "vsd", "pub", "wps"}},
    {OfficeContent::Rtf, nullptr, "no {\\rtf at its start", {"rtf"}},
};

const TOfficeKind* OfficeKindOf(const QString& suffix) {
    for (const TOfficeKind& kind : kOfficeKinds)
        for (const char* extension : kind.extensions)
            if (suffix == extension) return &kind;
    return nullptr;
}

uint32_t Little(const QByteArray& bytes, qsizetype at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

/// True when the file is a zip archive whose central directory names `entry`.
bool ZipHoldsEntry(QFile& file, const QByteArray& entry) {
    if (!file.peek(4).startsWith(QByteArray("PK\x03\x04", 4))) return false;
    // The end record sits in the last 22 bytes plus a comment of up to 64 KiB.
    const qint64 tailSize = std::min<qint64>(file.size(), 22 + 65535);
    if (!file.seek(file.size() - tailSize)) return false;
    const QByteArray tail = file.read(tailSize);
    const qsizetype end = tail.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0 || end + 22 > tail.size()) return false;
    const qint64 directorySize = Little(tail, end + 12, 4), directoryAt = Little(tail, end + 16, 4);
    if (directoryAt + directorySize > file.size() || !file.seek(directoryAt)) return false;
    const QByteArray directory = file.read(directorySize);
    for (qsizetype at = 0; at + 46 <= directory.size() && Little(directory, at, 4) == 0x02014B50;) {
        const qsizetype nameSize = Little(directory, at + 28, 2);
        if (at + 46 + nameSize > directory.size()) break;
        if (directory.mid(at + 46, nameSize) == entry) return true;
        at += 46 + nameSize + Little(directory, at + 30, 2) + Little(directory, at + 32, 2);
    }
    return false;
}

bool HoldsOfficeContent(QFile& file, const TOfficeKind& kind) {
    switch (kind.content) {
        case OfficeContent::ZipWith:
            return ZipHoldsEntry(file, kind.entry);
        case OfficeContent::CompoundFile:
            return file.peek(8) == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        case OfficeContent::Rtf:
            return file.peek(5) == "{\\rtf";
    }
    return false;
}

bool LooksLikePdf(QFile& file) {
    // Readers accept the header anywhere in the first kilobyte, so do we.
    return file.peek(1024).contains("%PDF-");
}

/// Pixels of a drawing, whatever their format, laid into the canvas as blue, green, red;
/// transparent pixels land on white paper. Done row by row in place: a six-fold page is
/// already 128 MB, a second copy of it is not made.
void CopyIntoCanvas(const QImage& drawn, TDocumentCanvas& canvas) {
    QImage premultiplied =
        drawn.format() == QImage::Format_RGB32 || drawn.format() == QImage::Format_ARGB32_Premultiplied
        ? drawn
        : drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    bool opaque = premultiplied.format() == QImage::Format_RGB32;
    int width = std::min(premultiplied.width(), canvas.Width());
    int height = std::min(premultiplied.height(), canvas.Height());
    for (int y = 0; y < height; ++y) {
        const QRgb* from = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        std::uint8_t* to = canvas.Row(y);
        for (int x = 0; x < width; ++x) {
            // Over white: a premultiplied channel plus the paper showing through.
            int paper = opaque ? 0 : 255 - qAlpha(from[x]);
            to[3 * x] = static_cast<std::uint8_t>(std::min(255, qBlue(from[x]) + paper));
            to[3 * x + 1] = static_cast<std::uint8_t>(std::min(255, qGreen(from[x]) + paper));
            to[3 * x + 2] = static_cast<std::uint8_t>(std::min(255, qRed(from[x]) + paper));
        }
    }
}

// Poppler prints its complaints about damaged files on stderr; the error that reaches the
// user already says the file is damaged.
void SilencePoppler() {
    static const bool silenced = [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        return true;
    }();
    (void)silenced;
}

class TPdfDocument : public TDocument {
public:
    /// temporaryFolder (may be null) holds the converted copy; it goes when the document closes.
    TPdfDocument(const QString& pdfFile, const QString& shownName, std::unique_ptr<QTemporaryDir> temporaryFolder)
        : temporaryFolder_(std::move(temporaryFolder)), shownName_(shownName.toStdString()) {
        SilencePoppler();
        pdf_ = Poppler::Document::load(pdfFile);
        if (!pdf_) throw EDocumentError(Format(kPdfDamaged, shownName_));
        if (pdf_->isLocked()) throw EDocumentError(Format(kPdfLocked, shownName_));
        if (pdf_->numPages() < 1) throw EDocumentError(Format(kPdfEmpty, shownName_));
        page_ = pdf_->page(0);
        if (!page_) throw EDocumentError(Format(kPdfDamaged, shownName_));
        pdf_->setRenderHint(Poppler::Document::Antialiasing);
        pdf_->setRenderHint(Poppler::Document::TextAntialiasing);
        pdf_->setPaperColor(Qt::white);
        pagePoints_ = page_->pageSizeF();
        if (pagePoints_.width() <= 0 || pagePoints_.height() <= 0)
            throw EDocumentError(Format(kPdfDamaged, shownName_));
    }

    TDocumentSize NaturalSize() const override {
        return {std::max(1, static_cast<int>(std::lround(pagePoints_.width() * kNaturalDpi / kPointsPerInch))),
                std::max(1, static_cast<int>(std::lround(pagePoints_.height() * kNaturalDpi / kPointsPerInch)))};
    }

    void Draw(TDocumentCanvas& canvas) override {
        if (canvas.Width() < 1 || canvas.Height() < 1) return;
        // The resolution that makes the page exactly as large as the canvas: the page is drawn
        // straight at the wanted size, never enlarged from a smaller drawing.
        double xres = canvas.Width() * kPointsPerInch / pagePoints_.width();
        double yres = canvas.Height() * kPointsPerInch / pagePoints_.height();
        QImage drawn = page_->renderToImage(xres, yres, 0, 0, canvas.Width(), canvas.Height());
        if (drawn.isNull())
            throw EDocumentError(Format(kDrawFailed, shownName_, canvas.Width(), canvas.Height(),
                                        "the PDF renderer gave no picture (out of memory?)"));
        CopyIntoCanvas(drawn, canvas);
    }

private:
    std::unique_ptr<QTemporaryDir> temporaryFolder_;  // declared first: removed after Poppler let go
    std::string shownName_;
    std::unique_ptr<Poppler::Document> pdf_;
    std::unique_ptr<Poppler::Page> page_;
    QSizeF pagePoints_;
};

/// SVG pictures may hold text, and Qt draws text only inside a GUI application. A program
/// without one (tilvorn-cli) gets one for the rest of its life, on the display-less platform
/// unless another was asked for.
void EnsureGuiApplication() {
    if (QCoreApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tilvorn";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

class TPictureDocument : public TDocument {
public:
    TPictureDocument(const QString& fileName, QSize size) : fileName_(fileName), size_(size) {}

    TDocumentSize NaturalSize() const override { return {size_.width(), size_.height()}; }

    void Draw(TDocumentCanvas& canvas) override {
        if (canvas.Width() < 1 || canvas.Height() < 1) return;
        QImageReader reader(fileName_);
        reader.setDecideFormatFromContent(true);
        QSize wanted(canvas.Width(), canvas.Height());
        // Scaling in the reader lets vector pictures draw straight at the wanted size.
        if (wanted != size_) reader.setScaledSize(wanted);
        QImage drawn = reader.read();
        if (drawn.isNull())
            throw EDocumentError(Format(kDrawFailed, ShortName(fileName_), canvas.Width(), canvas.Height(),
                                        reader.errorString().toStdString()));
        if (drawn.size() != wanted) drawn = drawn.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        CopyIntoCanvas(drawn, canvas);
    }

private:
    QString fileName_;
    QSize size_;
};

#ifdef Q_OS_UNIX
// LibreOffice's launcher starts soffice.bin as a child of its own: the whole process group
// (made at start, see setsid below) is ended, so nothing is left running after a time-out.
void KillProcessGroup(QProcess& process, qint64 groupId) {
    if (groupId > 0) ::kill(-static_cast<pid_t>(groupId), SIGKILL);
}
#else
void KillProcessGroup(QProcess& process, qint64) { process.kill(); }
#endif

/// Runs the office suite; true when it ended by itself within the time limit.
/// The event loop keeps running meanwhile so the window repaints.
bool RunWithTimeLimit(QProcess& process, int timeoutMs) {
    if (!QCoreApplication::instance()) return process.waitForFinished(timeoutMs);
    if (process.state() == QProcess::NotRunning) return true;
    QEventLoop loop;
    bool timedOut = false;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error != QProcess::Timedout) loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    if (process.state() != QProcess::NotRunning) loop.exec(QEventLoop::AllEvents);
    return !timedOut;
}

}  // namespace

bool TQtDocumentRenderer::IsOfficeExtension(const std::string& fileName) {
    return Contains(kOfficeExtensions, Suffix(QString::fromStdString(fileName)));
}

std::string TQtDocumentRenderer::FindOfficeProgram() const {
    if (!options_.officeProgram.empty()) {
        QString given = QString::fromStdString(options_.officeProgram);
        QString found = QFileInfo(given).isAbsolute() ? (QFileInfo(given).isExecutable() ? given : QString())
                                                      : QStandardPaths::findExecutable(given);
        return found.toStdString();
    }
    for (const char* name : {"soffice", "libreoffice"}) {
        QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty()) return found.toStdString();
    }
    QStringList usual = {"/usr/lib/libreoffice/program/soffice", "/usr/local/lib/libreoffice/program/soffice",
                         "/Applications/LibreOffice.app/Contents/MacOS/soffice",
                         "C:/Program Files/LibreOffice/program/soffice.exe"};
    for (const QString& dir : QDir("/opt").entryList({"libreoffice*"}, QDir::Dirs))
        usual << "/opt/" + dir + "/program/soffice";
    for (const QString& path : usual)
        if (QFileInfo(path).isExecutable()) return path.toStdString();
    return "";
}

std::unique_ptr<TDocument> TQtDocumentRenderer::Open(const std::string& fileNameText) {
    QString fileName = QFileInfo(QString::fromStdString(fileNameText)).absoluteFilePath();
    std::string shown = ShortName(fileName);
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        throw EDocumentError(Format(kFileMissing, shown));

    if (LooksLikePdf(file)) return std::make_unique<TPdfDocument>(fileName, QString::fromStdString(shown), nullptr);

    QString suffix = Suffix(fileName);
    if (Contains(kOfficeExtensions, suffix)) {
        const TOfficeKind* kind = OfficeKindOf(suffix);
        if (kind && !HoldsOfficeContent(file, *kind))
            throw EDocumentError(Format(kNotOfficeContent, shown, suffix.toStdString(), kind->missing));
        file.close();
        std::string program = FindOfficeProgram();
        if (program.empty()) throw EDocumentError(Format(kNoOfficeSuite, shown));

        QString root =
            options_.temporaryRoot.empty() ? QDir::tempPath() : QString::fromStdString(options_.temporaryRoot);
        auto folder = std::make_unique<QTemporaryDir>(root + "/tilvorn-document-XXXXXX");
        if (!folder->isValid()) throw EDocumentError(Format(kNoTemporaryFolder, shown));
        QString outDir = folder->filePath("pdf");
        QDir().mkpath(outDir);

        QProcess office;
        office.setProgram(QString::fromStdString(program));
        // A profile of its own: LibreOffice refuses to work beside a running instance that
        // shares the user's profile, and nothing of this run stays in the user's settings.
        office.setArguments({"-env:UserInstallation=" + QUrl::fromLocalFile(folder->filePath("profile")).toString(),
                             "--headless", "--norestore", "--nolockcheck", "--nologo", "--convert-to", "pdf",
                             "--outdir", outDir, fileName});
        office.setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
        office.setChildProcessModifier([] { ::setsid(); });
#endif
        office.start();
        if (!office.waitForStarted(30000)) {
            office.kill();
            throw EDocumentError(Format(kOfficeNotStarted, shown, office.errorString().toStdString()));
        }
        qint64 group = office.processId();
        bool finished = RunWithTimeLimit(office, options_.officeTimeoutMs);
        if (!finished) {
            KillProcessGroup(office, group);
            office.waitForFinished(10000);
            throw EDocumentError(Format(kOfficeTimeout, shown, (options_.officeTimeoutMs + 999) / 1000));
        }
        KillProcessGroup(office, group);  // anything the launcher left behind
        QStringList pdfs = QDir(outDir).entryList({"*.pdf"}, QDir::Files);
        if (pdfs.isEmpty()) throw EDocumentError(Format(kOfficeFailed, shown));
        QString pdf = QDir(outDir).filePath(pdfs.first());
        return std::make_unique<TPdfDocument>(pdf, QString::fromStdString(shown), std::move(folder));
    }

    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    if (reader.canRead()) {
        if (reader.format().startsWith("svg")) EnsureGuiApplication();
        QSize size = reader.size();
        if (!size.isValid() || size.isEmpty()) {
            QImage image = reader.read();
            if (image.isNull())
                throw EDocumentError(Format(kUnreadablePicture, shown, reader.errorString().toStdString()));
            size = image.size();
        }
        return std::make_unique<TPictureDocument>(fileName, size);
    }
    if (Contains(kPluginPictureExtensions, suffix) &&
        !QImageReader::supportedImageFormats().contains(suffix.toLatin1()))
        throw EDocumentError(Format(kMissingPlugin, shown, suffix.toUpper().toStdString()));
    throw EDocumentError(Format(kUnknownKind, shown));
}

void UseQtDocumentRenderer() {
    static TQtDocumentRenderer qtRenderer;
    SetDefaultDocumentRenderer(&qtRenderer);
}

}  // namespace tilvorn::platform
