#include "core/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#define fseeko _fseeki64
#define ftello _ftelli64
#endif

#include "core/Exceptions.h"
#include "core/Format.h"

namespace tilvorn {

int64_t TStream::Size() {
    int64_t here = Seek(0, SeekOrigin::Current);
    int64_t end = Seek(0, SeekOrigin::End);
    Seek(here, SeekOrigin::Beginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count < 0 || (count > 0 && Read(buffer, count) != count)) throw EReadError(kStreamReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count < 0 || (count > 0 && Write(buffer, count) != count)) throw EWriteError(kStreamWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t left = count;
    while (left > 0) {
        int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= n;
    }
    return count;
}

// ---- memory ----

void TCustomMemoryStream::SetPointer(void* data, int64_t size) {
    memory_ = static_cast<uint8_t*>(data);
    size_ = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TCustomMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(memory_ + position_, buffer, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = origin == SeekOrigin::Beginning ? 0 : origin == SeekOrigin::Current ? position_ : size_;
    int64_t target = base + offset;
    position_ = target < 0 ? 0 : target;
    return position_;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t end = position_ + count;
    if (end > size_) SetSize(end);
    std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

void TMemoryStream::SetSize(int64_t size) {
    storage_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    SetPointer(storage_.data(), static_cast<int64_t>(storage_.size()));
    if (position_ > size_) position_ = size_;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    int64_t n = source.Size();
    SetSize(n);
    position_ = 0;
    if (n > 0) source.ReadBuffer(memory_, n);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, FileMode::Create);
    file.WriteBuffer(memory_, size_);
}

TGlobalMemoryStream::TGlobalMemoryStream(platform::HGLOBAL block) : block_(block) {
    void* data = platform::GlobalLock(block);
    SetPointer(data, data ? static_cast<int64_t>(platform::GlobalSize(block)) : 0);
}

TGlobalMemoryStream::~TGlobalMemoryStream() { platform::GlobalUnlock(block_); }

// ---- files ----

TFileStream::TFileStream(const std::string& fileName, FileMode mode) : fileName_(fileName) {
    const char* how = mode == FileMode::OpenRead ? "rb" : mode == FileMode::OpenReadWrite ? "r+b" : "w+b";
    file_ = std::fopen(fileName.c_str(), how);
    if (!file_) {
        std::string reason = std::strerror(errno);
        if (mode == FileMode::Create) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, reason));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName, reason));
    }
}

TFileStream::~TFileStream() {
    if (file_) std::fclose(file_);
}

void TFileStream::Flush() {
    if (std::fflush(file_) != 0) throw EWriteError(kStreamWriteError);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Beginning ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) return ftello(file_);
    return ftello(file_);
}

int64_t TFileStream::Size() {
    off_t here = ftello(file_);
    fseeko(file_, 0, SEEK_END);
    off_t end = ftello(file_);
    fseeko(file_, here, SEEK_SET);
    return end;
}

}  // namespace tilvorn
