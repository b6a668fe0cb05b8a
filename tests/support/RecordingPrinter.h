// Test double for the printers: a scripted list of printers with their capabilities, a
// print dialog that answers from a queue, and a record of every print job with the pictures
// drawn (shared with the caller's picture, as an assignment of the working image shares).
// Header-only so that the platform base does not depend on the working image.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "image/DIB.h"
#include "platform/Printer.h"

namespace tilvorn::platform {

class TRecordingPrinter : public TPrinter {
public:
    struct Device {
        std::string name;
        std::map<DeviceCap, int> caps;
    };
    struct Drawing {
        int x = 0, y = 0;
        std::shared_ptr<TDIB> picture;
    };
    struct Job {
        std::string title;
        int pages = 1;
        bool ended = false, aborted = false;
        std::vector<Drawing> drawings;
    };
    struct DialogAnswer {
        bool confirmed = true;
        int printerIndex = -1;  // -1: keep the current printer
    };

    std::vector<Device> devices;
    int current = -1;
    std::deque<DialogAnswer> dialogAnswers;
    int dialogsShown = 0;
    std::vector<Job> jobs;
    /// Every call in order ("Printers", "GetDeviceCaps 110", "BeginDoc", …).
    std::vector<std::string> calls;
    /// Called once each job has ended, as the user acting while the sheet goes out.
    std::function<void()> afterJob;

    /// A printer of paperW × paperH dots at dpi with the given unprintable strips.
    static Device MakeDevice(const std::string& name, int dpi, int paperW, int paperH, int left, int top, int right,
                             int bottom) {
        return {name,
                {{DeviceCap::HORZRES, paperW - left - right},
                 {DeviceCap::VERTRES, paperH - top - bottom},
                 {DeviceCap::LOGPIXELSX, dpi},
                 {DeviceCap::LOGPIXELSY, dpi},
                 {DeviceCap::PHYSICALWIDTH, paperW},
                 {DeviceCap::PHYSICALHEIGHT, paperH},
                 {DeviceCap::PHYSICALOFFSETX, left},
                 {DeviceCap::PHYSICALOFFSETY, top}}};
    }

    void AddDevice(Device device) {
        devices.push_back(std::move(device));
        if (current < 0) current = 0;
    }

    std::vector<std::string> Printers() override {
        calls.push_back("Printers");
        std::vector<std::string> names;
        for (const Device& d : devices) names.push_back(d.name);
        return names;
    }
    int PrinterIndex() override { return current; }
    void SetPrinterIndex(int index) override {
        if (index < 0 || index >= static_cast<int>(devices.size())) throw Exception(kPrinterIndexOutOfRange);
        current = index;
    }
    int GetDeviceCaps(DeviceCap cap) override {
        calls.push_back("GetDeviceCaps " + std::to_string(static_cast<int>(cap)));
        if (current < 0) throw Exception(kNoDefaultPrinter);
        auto found = devices[current].caps.find(cap);
        return found == devices[current].caps.end() ? 0 : found->second;
    }
    bool PrintDialog() override {
        calls.push_back("PrintDialog");
        ++dialogsShown;
        if (dialogAnswers.empty()) return false;
        DialogAnswer answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        if (answer.printerIndex >= 0) SetPrinterIndex(answer.printerIndex);
        return answer.confirmed;
    }
    void SetTitle(const std::string& title) override {
        calls.push_back("SetTitle " + title);
        title_ = title;
    }
    void BeginDoc() override {
        calls.push_back("BeginDoc");
        if (printing_) throw Exception(kPrintingInProgress);
        if (current < 0) throw Exception(kNoDefaultPrinter);
        Job job;
        job.title = title_;
        jobs.push_back(job);
        printing_ = true;
    }
    void Draw(int x, int y, const TDIB& picture) override {
        calls.push_back("Draw " + std::to_string(x) + " " + std::to_string(y));
        if (!printing_) throw Exception(kNotPrinting);
        auto shared = std::make_shared<TDIB>();
        shared->Assign(picture);
        jobs.back().drawings.push_back({x, y, shared});
    }
    void NewPage() override {
        calls.push_back("NewPage");
        if (!printing_) throw Exception(kNotPrinting);
        ++jobs.back().pages;
    }
    void EndDoc() override {
        calls.push_back("EndDoc");
        if (!printing_) throw Exception(kNotPrinting);
        jobs.back().ended = true;
        printing_ = false;
        if (afterJob) afterJob();
    }
    void Abort() override {
        calls.push_back("Abort");
        if (!printing_) return;
        jobs.back().aborted = true;
        printing_ = false;
    }
    bool Printing() override { return printing_; }

private:
    std::string title_;
    bool printing_ = false;
};

}  // namespace tilvorn::platform
