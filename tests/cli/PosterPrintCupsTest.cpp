// tilvorn-cli poster --print against a real CUPS scheduler that the test starts in a folder of
// its own (its own cupsd.conf, port and socket), with one queue whose PPD has unprintable strips
// on A4. The jobs' documents are kept by the scheduler, so each job can be read back.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "cli/CliRun.h"

extern char** environ;

namespace tilvorn::test::cli {
namespace {

// The queue's paper and strips, in points as the PPD gives them: A4, 12 pt left and right,
// 18 pt at the top and bottom. Qt prints to a CUPS queue at its high resolution, 1200 DPI,
// whatever resolution the PPD names.
constexpr int kDpi = 1200;
constexpr double kPaperWidthPt = 595, kPaperHeightPt = 842;  // as the PPD gives them
constexpr double kStripXPt = 12, kStripYPt = 18;
const char* const kStripPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "STRIPS.PPD"
*Manufacturer: "Tilvorn Test"
*Product: "(Strip Printer)"
*ModelName: "Strip Printer"
*ShortNickName: "Strip Printer"
*NickName: "Strip Printer"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*OpenUI *PageSize/Page Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Page Region: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "12 18 583 824"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 20 AnySetup *Resolution
*DefaultResolution: 150dpi
*Resolution 150dpi/150 DPI: "<</HWResolution[150 150]>>setpagedevice"
*CloseUI: *Resolution
)PPD";

// The jobs of a queue with their names, however far they got.
const char* const kJobsRequest = R"({
	NAME "Every job"
	OPERATION Get-Jobs
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR language attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR keyword which-jobs all
	ATTR keyword requested-attributes job-id,job-name
	STATUS successful-ok
	DISPLAY job-id
	DISPLAY job-name
}
)";

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The job-name value of a CUPS job control file (IPP attributes: value tag, name length, name,
// value length, value, lengths big-endian), or "" without one.
std::string JobNameInControlFile(const std::string& path) {
    const std::string bytes = Slurp(path);
    const std::string key = std::string("\x00\x08", 2) + "job-name";
    const size_t at = bytes.find(key);
    if (at == std::string::npos || at + key.size() + 2 > bytes.size()) return "";
    const size_t start = at + key.size() + 2;
    const size_t length = size_t(uint8_t(bytes[start - 2])) << 8 | uint8_t(bytes[start - 1]);
    return start + length <= bytes.size() ? bytes.substr(start, length) : "";
}

// A free TCP port on the loopback interface, as the system hands one out.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// A CUPS scheduler of the test's own, stopped (and waited for) when the object goes.
class TCupsServer {
public:
    explicit TCupsServer(const std::string& dir) : dir_(dir), socket_(dir + "/cups.sock"), port_(FreePort()) {}
    ~TCupsServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    TCupsServer(const TCupsServer&) = delete;
    TCupsServer& operator=(const TCupsServer&) = delete;

    const std::string& Socket() const { return socket_; }
    int Port() const { return port_; }
    const std::string& Spool() const { return spool_; }

    // Writes the configuration, starts cupsd in the foreground and waits until it answers.
    bool Start(std::string& why) {
        for (const char* sub : {"spool", "tmp", "cache", "state", "log"})
            std::filesystem::create_directories(dir_ + "/" + sub);
        // The filters run as lp and write their own temporary files there; a filter that
        // cannot stops the job and the queue, and a stopped job answers without its name.
        std::filesystem::permissions(dir_ + "/tmp", std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
        spool_ = dir_ + "/spool";
        // Run as root, the scheduler runs its helpers as lp; as anyone else, as that user.
        const bool root = geteuid() == 0;
        WriteText(dir_ + "/cupsd.conf",
                  "Listen " + socket_ + "\nListen 127.0.0.1:" + std::to_string(port_) +
                      "\nLogLevel info\nBrowsing No\nWebInterface No\n"
                      "PreserveJobFiles Yes\nPreserveJobHistory Yes\nMaxJobs 0\nDirtyCleanInterval 0\n"
                      "DefaultAuthType None\n"
                      "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n  <Limit All>\n    Order "
                      "deny,allow\n  </Limit>\n"
                      "</Policy>\n");
        WriteText(dir_ + "/cups-files.conf",
                  "ServerRoot " + dir_ + "\nRequestRoot " + spool_ + "\nTempDir " + dir_ + "/tmp\nCacheDir " + dir_ +
                      "/cache\nStateDir " + dir_ + "/state\nErrorLog " + dir_ + "/log/error_log\nAccessLog " + dir_ +
                      "/log/access_log\nPageLog " + dir_ + "/log/page_log\nPrintcap " + dir_ +
                      "/printcap\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                      "FileDevice Yes\n" +
                      (root ? "User lp\nGroup lp\nSystemGroup root\n" : ""));
        std::filesystem::permissions(dir_, std::filesystem::perms(0755));
        const std::string conf = dir_ + "/cupsd.conf", files = dir_ + "/cups-files.conf";
        const char* argv[] = {"/usr/sbin/cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr};
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            pid_ = -1;
            why = "cupsd could not be started";
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            // lpstat -r succeeds either way; only its words tell a scheduler that answers.
            if (test::Run("/usr/bin/lpstat -h " + Quoted(socket_) +
                          " -r 2>/dev/null | grep -qx 'scheduler is running'") == 0)
                return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "cupsd ended at once: " + Slurp(dir_ + "/log/error_log");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        why = "cupsd did not answer";
        return false;
    }

private:
    std::string dir_, socket_, spool_;
    int port_ = 0;
    pid_t pid_ = -1;
};

std::map<std::string, std::string> LayoutLines(const std::string& out) {
    std::map<std::string, std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (size_t eq = line.find('='); eq != std::string::npos) lines[line.substr(0, eq)] = line.substr(eq + 1);
    return lines;
}

// "Page size:      595.276 x 841.89 pts (A4)" of a PDF as pdfinfo reads it.
std::pair<double, double> PdfPageSize(const std::string& pdf, const std::string& scratch) {
    if (test::Run("/usr/bin/pdfinfo " + Quoted(pdf) + " > " + Quoted(scratch) + " 2>/dev/null") != 0) return {0, 0};
    std::istringstream in(Slurp(scratch));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Page size:", 0) == 0) {
            std::istringstream size(line.substr(10));
            double w = 0, h = 0;
            std::string x;
            size >> w >> x >> h;
            return {w, h};
        }
    return {0, 0};
}

TEST(PosterPrint, OneJobPerSheetOnACupsQueueAtItsPaperAndStrips) {
    for (const char* tool :
         {"/usr/sbin/cupsd", "/usr/sbin/lpadmin", "/usr/bin/lpstat", "/usr/bin/ipptool", "/usr/bin/pdfinfo"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " missing (Debian cups, cups-ipp-utils, poppler-utils)";
    const std::string dir = TempDir("cupsprint");
    TCupsServer cups(dir);
    std::string why;
    ASSERT_TRUE(cups.Start(why)) << why;
    WriteText(dir + "/strips.ppd", kStripPpd);
    const std::string server = "-h " + Quoted(cups.Socket());
    ASSERT_EQ(test::Run("/usr/sbin/lpadmin " + server + " -p Strips -E -v file:///dev/null -P " +
                        Quoted(dir + "/strips.ppd") + " >" + Quoted(dir + "/lpadmin.out") + " 2>&1"),
              0)
        << Slurp(dir + "/lpadmin.out");

    // Three of the poster's six sheets, printed through the queue as the window prints them.
    const std::string env = "CUPS_SERVER=" + Quoted(cups.Socket()) + " ";
    const std::string runDir = TempDir("cupsprint-cli");
    ASSERT_EQ(test::Run(env + kCli + " poster " + Quoted(DataPath("app/rgb.jpg")) +
                        " --printer Strips --print --width 500 --pages 1-2 >" + runDir + "/out 2>" + runDir + "/err"),
              0)
        << Slurp(runDir + "/err");
    std::map<std::string, std::string> layout = LayoutLines(Slurp(runDir + "/out"));

    // The paper: A4 at 1200 DPI.
    EXPECT_EQ(layout["sheet_px"],
              std::to_string(std::lround(kPaperWidthPt / 72 * kDpi)) + "x" +
                  std::to_string(std::lround(kPaperHeightPt / 72 * kDpi)));
    // The strips the program read make the margins: the least whole millimetres that clear them.
    const double pxPerMm = kDpi * 0.03937;
    auto margin = [&](double stripPt) {
        const double stripPx = std::round(stripPt / 72 * kDpi);
        return std::to_string(int((std::trunc(stripPx / pxPerMm) + 1) * pxPerMm));
    };
    EXPECT_EQ(layout["margins_px"], margin(kStripXPt) + "x" + margin(kStripYPt));
    EXPECT_GE(std::stoi(layout["pages"]), 2);

    // One job per sheet, each one A4 page, titled row;column.
    WriteText(dir + "/jobs.test", kJobsRequest);
    const std::string uri = "ipp://127.0.0.1:" + std::to_string(cups.Port()) + "/printers/Strips";
    ASSERT_EQ(test::Run("/usr/bin/ipptool -c " + Quoted(uri) + " " + Quoted(dir + "/jobs.test") + " > " +
                        Quoted(dir + "/jobs.csv") + " 2>&1"),
              0)
        << Slurp(dir + "/jobs.csv");
    std::istringstream jobs(Slurp(dir + "/jobs.csv"));
    std::vector<std::string> titles;
    std::string line;
    std::getline(jobs, line);  // the heading
    while (std::getline(jobs, line))
        if (size_t comma = line.find(','); comma != std::string::npos) titles.push_back(line.substr(comma + 1));
    ASSERT_EQ(titles.size(), 2u) << Slurp(dir + "/jobs.csv");
    for (int job = 1; job <= 2; ++job) {
        char name[32];
        std::snprintf(name, sizeof name, "/d%05d-001", job);
        const auto [w, h] = PdfPageSize(cups.Spool() + name, dir + "/info.txt");
        EXPECT_NEAR(w, kPaperWidthPt, 0.5) << name;
        EXPECT_NEAR(h, kPaperHeightPt, 0.5) << name;
        // A job that has just completed may answer Get-Jobs without its name while the
        // scheduler reloads it, so the title is read from the job's control file, where the
        // scheduler keeps the attributes the job was created with (written at once here).
        std::snprintf(name, sizeof name, "/c%05d", job);
        EXPECT_EQ(JobNameInControlFile(cups.Spool() + name), "(1;" + std::to_string(job) + ")") << name;
    }
}

}  // namespace
}  // namespace tilvorn::test::cli
